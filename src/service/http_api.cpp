#include "service/http_api.h"

#include <httplib.h>

#include <algorithm>
#include <nlohmann/json.hpp>

namespace zelmo::service {
namespace {

using httplib::Request;
using httplib::Response;
using nlohmann::json;
using HandlerResponse = httplib::Server::HandlerResponse;

constexpr const char* kJson = "application/json";
constexpr int kMaxWait = 60;

void Answer(Response& res, int status, const std::string& body) {
  res.status = status;
  res.set_content(body, kJson);
}

void Error(Response& res, int status, const std::string& code, const std::string& message) {
  Answer(res, status, json{{"error", code}, {"message", message}}.dump());
}

std::string HostName(const std::string& host) {
  if (!host.empty() && host.front() == '[') {
    const auto close = host.find(']');
    return close == std::string::npos ? host : host.substr(1, close - 1);
  }
  const auto colon = host.rfind(':');
  return colon == std::string::npos ? host : host.substr(0, colon);
}

// The wait a request asks for: 0 without ?wait, nothing when the value is no whole number of
// seconds from 0 to 60.
std::optional<int> WaitOf(const Request& req) {
  if (!req.has_param("wait")) return 0;
  const std::string value = req.get_param_value("wait");
  if (value.empty() || value.size() > 2 ||
      !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const int seconds = std::stoi(value);
  if (seconds > kMaxWait) return std::nullopt;
  return seconds;
}

bool IsJsonType(const std::string& type) {
  std::string media = type.substr(0, type.find(';'));
  media.erase(std::remove(media.begin(), media.end(), ' '), media.end());
  std::transform(media.begin(), media.end(), media.begin(), ::tolower);
  return media == kJson;
}

class Api {
 public:
  Api(PrintService& jobs, const ServiceSettings& settings) : jobs_(jobs), settings_(settings) {}

  HandlerResponse Check(const Request& req, Response& res) {
    const std::string host = req.get_header_value("Host");
    if (!HostAllowed(host, settings_)) {
      Error(res, 403, "host-refused", "The Host \"" + host + "\" is not this service's.");
      return HandlerResponse::Handled;
    }
    const std::string origin = req.get_header_value("Origin");
    if (req.has_header("Origin") && !OriginAllowed(origin, host, settings_)) {
      Error(res, 403, "origin-refused",
            "The origin \"" + origin + "\" is not in the service's Origins setting.");
      return HandlerResponse::Handled;
    }
    if (req.has_header("Origin")) {
      res.set_header("Access-Control-Allow-Origin", origin);
      res.set_header("Vary", "Origin");
    }
    if (req.method == "OPTIONS") {
      res.status = 204;
      res.set_header("Access-Control-Allow-Methods", "GET, POST, OPTIONS");
      res.set_header("Access-Control-Allow-Headers",
                     "Content-Type, Idempotency-Key, Authorization");
      res.set_header("Access-Control-Allow-Private-Network", "true");
      res.set_header("Access-Control-Max-Age", "600");
      return HandlerResponse::Handled;
    }
    if (!settings_.token.empty() && req.path != "/v1/health" &&
        !BearerMatches(req.get_header_value("Authorization"), settings_.token)) {
      res.set_header("WWW-Authenticate", "Bearer");
      Error(res, 401, "unauthorized", "This service needs its token: Authorization: Bearer TOKEN.");
      return HandlerResponse::Handled;
    }
    if (req.method == "POST" && !IsJsonType(req.get_header_value("Content-Type"))) {
      Error(res, 415, "unsupported-media-type", "A request body must be application/json.");
      return HandlerResponse::Handled;
    }
    return HandlerResponse::Unhandled;
  }

  void PostReceipt(const Request& req, Response& res) {
    const std::string name = req.matches[1];
    const auto wait = WaitOf(req);
    if (!wait) return Error(res, 400, "bad-wait", "wait is a whole number of seconds, 0 to 60.");
    const std::string key = req.get_header_value("Idempotency-Key");
    if (!IdempotencyKeyValid(key))
      return Error(res, 400, "bad-idempotency-key",
                   "Idempotency-Key is required: 1 to 128 characters from 21h to 7Eh.");
    const std::optional<std::string> delimiter = jobs_.DelimiterOf(name);
    if (!delimiter) return NoRegister(res, name);
    auto parsed = ParseReceiptRequest(req.body, *delimiter);
    if (const auto* error = std::get_if<RequestError>(&parsed)) {
      json body{{"error", error->code}, {"message", error->message}};
      if (error->item >= 0) body["item"] = error->item;
      if (!error->field.empty()) body["field"] = error->field;
      return Answer(res, error->httpStatus, body.dump());
    }
    const SubmitResult result = jobs_.Submit(name, key, std::get<ReceiptRequest>(parsed));
    switch (result.kind) {
      case SubmitResult::kNoRegister:
        return NoRegister(res, name);
      case SubmitResult::kStopping:
        return Error(res, 503, "stopping", "The service is stopping; send it again once it runs.");
      case SubmitResult::kOtherBody:
        return Error(res, 422, "idempotency-key-reused",
                     "This Idempotency-Key was used for another receipt.");
      case SubmitResult::kUnknown:
        return Answer(res, 409,
                      json{{"error", "outcome-unknown"},
                           {"message",
                            "It is not known whether this receipt was printed: check the register "
                            "and resolve the job."},
                           {"job", json::parse(JobJson(result.job))}}
                          .dump());
      case SubmitResult::kQueued:
      case SubmitResult::kExisting:
        res.set_header("Location", "/v1/jobs/" + result.job.id);
        return AnswerJob(res, result.job, *wait, result.kind == SubmitResult::kQueued ? 202 : 200);
    }
  }

  void GetJob(const Request& req, Response& res) {
    const auto wait = WaitOf(req);
    if (!wait) return Error(res, 400, "bad-wait", "wait is a whole number of seconds, 0 to 60.");
    const auto job = jobs_.Find(req.matches[1]);
    if (!job) return NoJob(res);
    AnswerJob(res, *job, *wait, 200);
  }

  void ListJobs(const Request& req, Response& res) {
    std::int64_t since = 0;
    if (req.has_param("since")) {
      const auto time = ParseIsoTime(req.get_param_value("since"));
      if (!time)
        return Error(res, 400, "bad-since", "since is a UTC time such as 2026-12-11T15:04:05Z.");
      since = *time;
    }
    const std::string name = req.has_param("register") ? req.get_param_value("register") : "";
    if (!name.empty() && !jobs_.DelimiterOf(name)) return NoRegister(res, name);
    std::string body = "{\"jobs\":[";
    bool first = true;
    for (const Job& job : jobs_.List(name, since, 200)) {
      if (!first) body += ",";
      body += JobJson(job);
      first = false;
    }
    Answer(res, 200, body + "]}");
  }

  void Resolve(const Request& req, Response& res) {
    json body;
    try {
      body = json::parse(req.body);
    } catch (const json::exception&) {
      return Error(res, 400, "bad-json", "The body is no JSON.");
    }
    if (!body.is_object() || !body.contains("printed") || !body["printed"].is_boolean())
      return Error(res, 422, "bad-resolve",
                   "The body is {\"printed\": true} or {\"printed\": false}.");
    const ResolveResult result = jobs_.Resolve(req.matches[1], body["printed"].get<bool>());
    if (result.kind == ResolveResult::kNoJob) return NoJob(res);
    if (result.kind == ResolveResult::kNotUnknown)
      return Error(res, 409, "not-unknown", "Only a job whose outcome is unknown can be resolved.");
    Answer(res, 200, JobJson(result.job));
  }

  void Registers(Response& res) {
    json list = json::array();
    for (const RegisterView& view : jobs_.Registers()) {
      Job probe;
      probe.outcome = view.lastOutcome;
      list.push_back(
          {{"name", view.name},
           {"device", view.device},
           {"state", view.busy ? "busy" : "idle"},
           {"queued", view.queued},
           {"lastOutcome", json::parse(JobJson(probe))["outcome"]},
           {"lastEnded", view.lastEnded ? json(IsoTime(view.lastEnded)) : json(nullptr)}});
    }
    Answer(res, 200, json{{"registers", list}}.dump());
  }

  void Metrics(Response& res) {
    res.status = 200;
    res.set_content(jobs_.Metrics(), "text/plain; version=0.0.4");
  }

 private:
  void AnswerJob(Response& res, const Job& job, int wait, int status) {
    if (wait > 0 && job.stage != JobStage::kEnded) {
      const auto ended = jobs_.WaitForEnd(job.id, std::chrono::seconds(wait));
      if (ended && ended->stage == JobStage::kEnded) return Answer(res, 200, JobJson(*ended));
      return Answer(res, 202, JobJson(ended ? *ended : job));
    }
    Answer(res, job.stage == JobStage::kEnded ? 200 : status, JobJson(job));
  }
  void NoRegister(Response& res, const std::string& name) {
    Error(res, 404, "no-register", "No register \"" + name + "\" is set up in this service.");
  }
  void NoJob(Response& res) { Error(res, 404, "no-job", "No such job."); }

  PrintService& jobs_;
  const ServiceSettings& settings_;
};

}  // namespace

bool HostAllowed(const std::string& host, const ServiceSettings& settings) {
  if (host.empty()) return false;
  const std::string name = HostName(host);
  if (IsLoopbackHost(name)) return true;
  return std::any_of(settings.listen.begin(), settings.listen.end(),
                     [&](const ListenAddress& a) { return a.host == name; });
}

bool OriginAllowed(const std::string& origin, const std::string& host,
                   const ServiceSettings& settings) {
  // The service's own page calls it from its own origin.
  if (origin == "http://" + host) return true;
  return std::find(settings.origins.begin(), settings.origins.end(), origin) !=
         settings.origins.end();
}

bool IdempotencyKeyValid(const std::string& key) {
  return !key.empty() && key.size() <= 128 && std::all_of(key.begin(), key.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x21 && static_cast<unsigned char>(c) <= 0x7E;
  });
}

bool BearerMatches(const std::string& authorization, const std::string& token) {
  const std::string prefix = "Bearer ";
  if (authorization.size() != prefix.size() + token.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < authorization.size(); ++i) {
    const char expected = i < prefix.size() ? prefix[i] : token[i - prefix.size()];
    difference |= static_cast<unsigned char>(authorization[i] ^ expected);
  }
  return difference == 0;
}

void SetUpApi(httplib::Server& server, PrintService& jobs, const ServiceSettings& settings) {
  auto api = std::make_shared<Api>(jobs, settings);
  server.set_payload_max_length(kMaxBody);
  server.set_read_timeout(5, 0);
  server.set_write_timeout(5, 0);
  server.set_keep_alive_timeout(5);
  server.set_keep_alive_max_count(100);
  server.set_pre_routing_handler(
      [api](const Request& req, Response& res) { return api->Check(req, res); });
  server.Post(R"(/v1/registers/([^/]+)/receipts)",
              [api](const Request& req, Response& res) { api->PostReceipt(req, res); });
  server.Post(R"(/v1/jobs/([^/]+)/resolve)",
              [api](const Request& req, Response& res) { api->Resolve(req, res); });
  server.Get(R"(/v1/jobs/([^/]+))",
             [api](const Request& req, Response& res) { api->GetJob(req, res); });
  server.Get("/v1/jobs", [api](const Request& req, Response& res) { api->ListJobs(req, res); });
  server.Get("/v1/registers", [api](const Request&, Response& res) { api->Registers(res); });
  server.Get("/v1/health", [](const Request&, Response& res) {
    Answer(res, 200, json{{"status", "ok"}}.dump());
  });
  server.Get("/metrics", [api](const Request&, Response& res) { api->Metrics(res); });
  server.set_error_handler([](const Request&, Response& res) {
    if (!res.body.empty()) return;
    switch (res.status) {
      case 413:
        return Error(res, 413, "too-large", "A request body may be at most 64 KiB.");
      case 404:
        return Error(res, 404, "not-found", "No such resource.");
      case 405:
        return Error(res, 405, "method-not-allowed", "This resource does not take that method.");
      default:
        return Error(res, res.status, "bad-request", "The request could not be read.");
    }
  });
  server.set_exception_handler([](const Request&, Response& res, std::exception_ptr ep) {
    std::string what = "unknown";
    try {
      std::rethrow_exception(ep);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    Error(res, 500, "internal", "The service could not do it: " + what);
  });
}

}  // namespace zelmo::service
