// HTTPS between the controller library and the simulated filer on 127.0.0.1, with a
// self-signed certificate made at run time.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "filersim/filersim.h"
#include "wbemkelvai/wsiapi.h"
#include "wbemkelvai/wsifiler.h"

namespace {

struct ElementDeleter {
  void operator()(WSIElement *e) const { freeElement(e); }
};
using Element = std::unique_ptr<WSIElement, ElementDeleter>;

template <auto Free>
struct Freer {
  template <typename T>
  void operator()(T *p) const {
    Free(p);
  }
};
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Freer<X509_free>>;
using File = std::unique_ptr<std::FILE, Freer<std::fclose>>;

// Writes a self-signed certificate for the names (by default 127.0.0.1 and localhost)
// and its key as PEM.
void makeCertificate(const std::string &certPath, const std::string &keyPath,
                     const char *names = "IP:127.0.0.1,DNS:localhost") {
  Key key(EVP_EC_gen("P-256"));
  ASSERT_NE(key, nullptr);
  Cert cert(X509_new());
  ASSERT_EQ(X509_set_version(cert.get(), 2), 1);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
  ASSERT_EQ(X509_set_pubkey(cert.get(), key.get()), 1);
  X509_NAME *name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char *>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  X509V3_CTX context;
  X509V3_set_ctx(&context, cert.get(), cert.get(), nullptr, nullptr, 0);
  for (auto [id, value] : {std::pair{NID_subject_alt_name, names},
                           std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, id, value);
    ASSERT_NE(extension, nullptr);
    X509_add_ext(cert.get(), extension, -1);
    X509_EXTENSION_free(extension);
  }
  ASSERT_GT(X509_sign(cert.get(), key.get(), EVP_sha256()), 0);
  File certFile(std::fopen(certPath.c_str(), "w"));
  File keyFile(std::fopen(keyPath.c_str(), "w"));
  ASSERT_TRUE(certFile && keyFile);
  ASSERT_EQ(PEM_write_X509(certFile.get(), cert.get()), 1);
  ASSERT_EQ(PEM_write_PrivateKey(keyFile.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr),
            1);
}

class Https : public ::testing::Test {
 protected:
  void SetUp() override { start("IP:127.0.0.1,DNS:localhost"); }
  // Serves kelva-a over HTTPS with a certificate for the names.
  void start(const char *names) {
    server_.reset();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
    std::string pattern = (std::filesystem::temp_directory_path() / "https_test.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    cert_ = dir_ + "/filer.pem";
    ASSERT_NO_FATAL_FAILURE(makeCertificate(cert_, dir_ + "/filer.key", names));
    sim_ = filersim::Simulator::fromFile(FILERSIM_DEFAULT_SCENARIO);
    server_ = std::make_unique<filersim::HttpServer>(
        *sim_, "kelva-a", filersim::HttpServerOptions{0, cert_, dir_ + "/filer.key"});
    unsetenv("KELVA_CA_BUNDLE");
  }
  void TearDown() override {
    unsetenv("KELVA_CA_BUNDLE");
    server_.reset();
    std::filesystem::remove_all(dir_);
  }
  // One request on a fresh connection, so no TLS session is shared between cases.
  Element ask(int transport, const char *host = "127.0.0.1") {
    std::string user = sim_->userName("kelva-a"), password = sim_->password("kelva-a");
    WSIServerInfo *server =
        createServerInfo(host, user.c_str(), password.c_str(), 5, transport, server_->port());
    Element request(createElement("system-get-info"));
    Element answer(invokeServerElement(server, request.get()));
    destroyServerInfo(server);
    return answer;
  }

  std::string dir_, cert_;
  std::unique_ptr<filersim::Simulator> sim_;
  std::unique_ptr<filersim::HttpServer> server_;
};

TEST_F(Https, VerificationTrustsOnlyTheGivenCertificates) {
  Element unverified = ask(WSI_TRANSPORT_HTTPS_NOVERIFY);
  EXPECT_EQ(checkResultStatus(unverified.get()), 1) << getResultErrorString(unverified.get());

  Element untrusted = ask(WSI_TRANSPORT_HTTPS);
  EXPECT_EQ(checkResultStatus(untrusted.get()), 0);
  EXPECT_EQ(getResultErrorNum(untrusted.get()), WSI_ERR_TLS);
  EXPECT_NE(std::string(getResultErrorString(untrusted.get())).find("could not be verified"),
            std::string::npos)
      << getResultErrorString(untrusted.get());

  setenv("KELVA_CA_BUNDLE", cert_.c_str(), 1);
  Element trusted = ask(WSI_TRANSPORT_HTTPS);
  EXPECT_EQ(checkResultStatus(trusted.get()), 1) << getResultErrorString(trusted.get());

  setenv("KELVA_CA_BUNDLE", (dir_ + "/missing.pem").c_str(), 1);
  Element unreadable = ask(WSI_TRANSPORT_HTTPS);
  EXPECT_EQ(getResultErrorNum(unreadable.get()), WSI_ERR_TLS);
  EXPECT_NE(std::string(getResultErrorString(unreadable.get())).find("KELVA_CA_BUNDLE"),
            std::string::npos)
      << getResultErrorString(unreadable.get());
}

TEST_F(Https, TheBundleIsTheOnlyTrust) {
  // A bundle that holds another authority's certificate: the filer's is not in it.
  std::string other = dir_ + "/other.pem";
  ASSERT_NO_FATAL_FAILURE(makeCertificate(other, dir_ + "/other.key"));
  setenv("KELVA_CA_BUNDLE", other.c_str(), 1);
  Element refused = ask(WSI_TRANSPORT_HTTPS);
  EXPECT_EQ(checkResultStatus(refused.get()), 0);
  EXPECT_EQ(getResultErrorNum(refused.get()), WSI_ERR_TLS) << getResultErrorString(refused.get());
}

TEST_F(Https, ACertificateForAnotherNameIsRefused) {
  ASSERT_NO_FATAL_FAILURE(start("IP:127.0.0.1"));
  setenv("KELVA_CA_BUNDLE", cert_.c_str(), 1);
  Element right = ask(WSI_TRANSPORT_HTTPS, "127.0.0.1");
  EXPECT_EQ(checkResultStatus(right.get()), 1) << getResultErrorString(right.get());
  Element wrong = ask(WSI_TRANSPORT_HTTPS, "localhost");
  EXPECT_EQ(checkResultStatus(wrong.get()), 0);
  EXPECT_EQ(getResultErrorNum(wrong.get()), WSI_ERR_TLS) << getResultErrorString(wrong.get());
}

TEST_F(Https, AnUntrustedFilerIsAFailureNotAnOffLineFiler) {
  std::string systemId = sim_->systemId("kelva-a"), host = "127.0.0.1";
  std::string user = sim_->userName("kelva-a"), password = sim_->password("kelva-a");
  Filer filer{systemId.data(),
              host.data(),
              user.data(),
              password.data(),
              WSI_TRANSPORT_HTTPS,
              server_->port(),
              5};
  KELVAStatus status = KELVA_STATUS_INIT;
  KELVASysInfo *info = getKELVASysInfo(&status, &filer);
  EXPECT_EQ(info, nullptr);
  freeKELVASysInfo(info);
  ASSERT_NE(checkStatus(&status), 0);
  EXPECT_NE(std::string(status.message).find("could not be verified"), std::string::npos)
      << status.message;
  clearKELVAStatus(&status);
}

TEST_F(Https, PlainHttpToTheHttpsPortFailsAndTheFilerKeepsServing) {
  Element plain = ask(WSI_TRANSPORT_HTTP);
  EXPECT_EQ(checkResultStatus(plain.get()), 0);
  EXPECT_EQ(getResultErrorNum(plain.get()), WSI_ERR_DROPPED) << getResultErrorString(plain.get());
  EXPECT_EQ(checkResultStatus(ask(WSI_TRANSPORT_HTTPS_NOVERIFY).get()), 1);
}

}  // namespace
