// The CIM-XML side of `provkit-agent serve`: a CIM operation request (a SIMPLEREQ with an
// IMETHODCALL or METHODCALL) read from its XML, run against the host's object manager,
// and its SIMPLERSP written back; and the export request that carries an indication to
// a listener.  The HTTP side is in serve.cpp.
#pragma once

#include <cmpidt.h>

#include <map>
#include <mutex>
#include <string>

#include "agent.h"
#include "subscriptions.h"

namespace agent::cimxml {

// What goes back over HTTP: the status, the headers that are not the same for every
// answer (CIMError for a request that is no CIM operation), and the XML.
struct Answer {
  int httpStatus = 200;
  std::map<std::string, std::string> headers;
  std::string body;
};

// The answer to a request that never reached an operation: the HTTP status, the
// CIMError header's value ("request-not-well-formed" ...) and an ERROR of the CIM
// status code with the message in a response to `method` (the CIMMethod header's; may
// be empty), so that a client that reads only the body sees why.
Answer protocolError(int httpStatus, const std::string &cimError, const std::string &method,
                     int code, const std::string &message);

class Endpoint {
 public:
  explicit Endpoint(Host &host) : host_(host), subscriptions_(host) {}

  // Answers one request body; `host` is how the client reached the server (host[:port]),
  // written into the instance paths that go back.  Operations run one at a time: the
  // object manager's context is one for the whole process.
  Answer answer(const std::string &body, const std::string &host, const std::string &method = "");

 private:
  Host &host_;
  std::mutex operations_;
  Subscriptions subscriptions_;
};

// An ExportIndication request carrying the indication, under the message ID given;
// property types the indication leaves open come from the classes.
std::string exportRequest(const cimom::mof::Repository &classes, const CMPIInstance *indication,
                          const std::string &messageId);

// Text with &, <, >, " and ' escaped for XML.
std::string escaped(const std::string &text);

}  // namespace agent::cimxml
