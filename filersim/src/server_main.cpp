// filersim-server: serves the filers of a scenario over HTTP(S) on 127.0.0.1, one
// port per filer, until it is interrupted or its time is up.
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <thread>

#include "filersim/filersim.h"

namespace {
std::atomic<bool> stopRequested{false};
void onSignal(int) { stopRequested = true; }
}  // namespace

// The server's work; main only keeps exceptions from escaping.
int run(int argc, char **argv) {
  CLI::App app{"Simulated KELVA filers over HTTP(S) on 127.0.0.1"};
  std::string scenario;
  int port = 0;
  std::vector<std::string> only;
  int seconds = 0;
  std::string cert, key;
  app.add_option("scenario", scenario, "Scenario file (JSON)")
      ->required()
      ->check(CLI::ExistingFile);
  app.add_option("-p,--port", port,
                 "First port; each further filer takes the next (0: chosen by the system)")
      ->check(CLI::Range(0, 65535));
  app.add_option("-f,--filer", only, "Serve only these filers (by name)");
  app.add_option("-t,--time", seconds, "Stop after this many seconds (0: until interrupted)")
      ->check(CLI::NonNegativeNumber);
  auto *certOption = app.add_option("--cert", cert, "Serve HTTPS with this certificate (PEM)")
                         ->check(CLI::ExistingFile);
  auto *keyOption = app.add_option("--key", key, "Private key of the certificate (PEM)")
                        ->check(CLI::ExistingFile);
  certOption->needs(keyOption);
  keyOption->needs(certOption);
  CLI11_PARSE(app, argc, argv);

  try {
    auto simulator = filersim::Simulator::fromFile(scenario);
    std::vector<std::unique_ptr<filersim::HttpServer>> servers;
    std::vector<std::string> names = only.empty() ? simulator->filerNames() : only;
    for (size_t i = 0; i < names.size(); ++i) {
      int wanted = port == 0 ? 0 : port + static_cast<int>(i);
      simulator->state(names[i]);  // refuses an unknown name
      servers.push_back(std::make_unique<filersim::HttpServer>(
          *simulator, names[i], filersim::HttpServerOptions{wanted, cert, key}));
      std::cout << "filer " << names[i] << " (" << simulator->systemId(names[i])
                << ") listening on 127.0.0.1:" << servers.back()->port() << std::endl;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    auto start = std::chrono::steady_clock::now();
    while (!stopRequested && (seconds == 0 || std::chrono::steady_clock::now() - start <
                                                  std::chrono::seconds(seconds))) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (auto &server : servers) server->stop();
  } catch (const std::exception &error) {
    std::cerr << "filersim-server: " << error.what() << std::endl;
    return 1;
  }
  return 0;
}

int main(int argc, char **argv) {
  try {
    return run(argc, argv);
  } catch (...) {
    return 1;
  }
}
