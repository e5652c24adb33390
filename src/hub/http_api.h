#pragma once

#include "link_owner.h"
#include "site/site.h"
#include "state_json.h"
#include "switchboard.h"

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The hub's JSON API under /api/v1, free of sockets: the HTTP listener hands
// each request in and writes what comes back. Commands answer once the
// switcher confirmed them (200 with the new state), or with the reason they
// did not: 400 a bad argument (nothing sent), 404 no such thing, 409 the
// output is locked, 503 the link is down, 504 no confirmation in time, 502
// the switcher confirmed something else. Errors are
// {"error": {"code": "...", "message": "..."}}.
namespace mc::hub {

inline constexpr std::string_view kApiPrefix = "/api/v1";
inline constexpr std::string_view kJsonType = "application/json";

struct ApiRequest {
    std::string method; // "GET", "POST", ...
    std::string target; // path and query
    std::string contentType;
    std::string body;
};

struct ApiResponse {
    int status = 200;
    std::string contentType = std::string(kJsonType);
    std::string body;
};

// Compact JSON; a broken UTF-8 byte in a name is shown replaced rather than
// ending the answer.
[[nodiscard]] std::string jsonText(const Json& json);

[[nodiscard]] ApiResponse errorResponse(int status, std::string_view code, std::string_view message);

class HttpApi {
public:
    using Respond = std::function<void(ApiResponse)>;
    // One event of the live stream: its type and JSON data.
    using Publish = std::function<void(std::string_view type, const std::string& data)>;

    // Writes the site file; nullopt when saved, else why not.
    using SaveSite = std::function<std::optional<std::string>(const Site& site)>;

    // The site is the hub's (names, presets, locks); a change is saved before
    // it is taken.
    HttpApi(Switchboard& board, const LinkOwner& link, std::string linkAddress, Site& site, SaveSite save);

    void setPublisher(Publish publish) { publish_ = std::move(publish); }
    // Told after a change of the site (names, presets, locks) was taken, so
    // the hub's other interfaces follow it.
    void setSiteListener(std::function<void()> listener) { siteChanged_ = std::move(listener); }

    // Answers now or later (a command waits for the switcher).
    void handle(const ApiRequest& request, Respond respond);

    // Compares the state with what was last published and publishes one
    // event for each output, input, the link and the network that changed.
    // Times of confirmation alone are no change: a poll that finds
    // everything as it was sends nothing.
    void publishChanges();

    [[nodiscard]] Json state() const;
    [[nodiscard]] Json presetsJson() const;
    [[nodiscard]] Json names() const;

private:
    void command(std::string bytes, std::function<std::optional<std::string>(const std::string& line)> check,
                 Respond respond);
    void route(int output, const Json& body, Respond& respond);
    void audio(int output, const Json& body, Respond& respond);
    void edid(int input, const Json& body, Respond& respond);
    ApiResponse lock(int output, const Json& body);
    ApiResponse putNames(const Json& body);
    ApiResponse putPreset(const std::string& name, const Json& body);
    ApiResponse deletePreset(const std::string& name);
    void recall(const std::string& name, Respond& respond);
    // Saves the changed site and takes it, or answers why not.
    ApiResponse commit(Site next, const std::function<Json()>& answer);
    [[nodiscard]] StateView view() const;

    Switchboard& board_;
    const LinkOwner& link_;
    std::string linkAddress_;
    Site& site_;
    SaveSite save_;
    PortNames names_; // the site's, as the state shows them
    Publish publish_;
    std::function<void()> siteChanged_;
    // What the stream last said, without confirmation times.
    std::map<std::string, std::string> published_;
};

} // namespace mc::hub
