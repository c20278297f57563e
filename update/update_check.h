#pragma once

// The check for a newer version: one HTTP/1.0 request for the maker's version file, whose body is
// the newest version number ("271" for 2.7.1).
//
// Nothing here shows anything: the window asks and shows the message boxes that UpdateMessageFor
// describes, and keeps a busy cursor up while CheckForUpdates waits.

#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct GeneralSettings;

/// The longest a whole check takes: name lookup, connecting, sending and the whole response.
inline constexpr int MaxUpdateWaitMilliseconds = 10000;
/// Bytes of a response that are kept; a version file is a few bytes and the rest is not read.
inline constexpr std::size_t MaxUpdateResponseBytes = 64u << 10;
/// How often a waiting check calls its wait hook.
inline constexpr int UpdateWaitTickMilliseconds = 20;
/// The agent sent when the caller gives none.
inline constexpr std::string_view FallbackUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; en)";

/// Called about every UpdateWaitTickMilliseconds while a check waits for the network, so the
/// window can paint and hear a close request; false gives the check up at once.
using UpdateWaitHook = std::function<bool()>;

/// One address a host name resolved to, ready for socket() and connect().
struct ResolvedAddress {
  int family = 0;
  int socket_type = 0;
  int protocol = 0;
  sockaddr_storage address{};
  socklen_t length = 0;
};

/// A name lookup: blocking, it runs on a thread of its own that the check stops waiting for at
/// its deadline; empty when the host does not resolve.
using NameLookup =
    std::function<std::vector<ResolvedAddress>(const std::string& host, const std::string& port)>;

/// The system's lookup (getaddrinfo), TCP addresses only.
std::vector<ResolvedAddress> SystemNameLookup(const std::string& host, const std::string& port);

/// What a fetch runs on. Tests replace parts of it to make the network slow without waiting.
struct FetchEnvironment {
  /// The time the whole fetch may take, from the lookup to the last byte.
  std::chrono::milliseconds budget{MaxUpdateWaitMilliseconds};
  NameLookup lookup;                                             // empty: SystemNameLookup
  std::function<std::chrono::steady_clock::time_point()> clock;  // empty: the steady clock
};

/// An "http://host[:port]/path" address taken apart.
struct HttpAddress {
  std::string host;
  std::string port = "80";
  std::string path = "/";
};

/// Splits an address with or without "http://"; nullopt when it names no host, its port is not a
/// number from 1 to 65535, or it names another scheme.
std::optional<HttpAddress> SplitHttpAddress(std::string_view address);

/// The request bytes: GET, Host, Accept, User-Agent and Connection lines, each ended by CR LF,
/// and the empty line. An empty agent sends FallbackUserAgent.
std::string BuildUpdateRequest(const HttpAddress& address, std::string_view agent);

/// The response's body (after the first blank line, up to any second one), trimmed of blanks,
/// cut to its first three characters; "" when the response has no blank line.
std::string UpdateInfoFromResponse(std::string_view response);

/// Fetches `address` and returns UpdateInfoFromResponse of what the server sent before it closed
/// the connection or the time ran out; "" when the address is empty or unusable, the host does
/// not resolve in time, no connection can be made or the wait hook gave up.
std::string FetchUpdateInfo(std::string_view address, std::string_view agent,
                            const UpdateWaitHook& wait_hook = {},
                            const FetchEnvironment& environment = {});

/// The version number at the start of fetched text: an optional sign and decimal digits; 0 when
/// the text does not start with them.
int32_t ReadVersionNumber(std::string_view text);

/// What a check found; each has its message box.
enum class UpdateOutcome : int32_t {
  ConnectionProblem,  // nothing usable came back: no network, no server, no number
  NewUpdate,          // the server names a newer version
  NoUpdate,           // the server names this version or an older one
};

/// Where CheckForUpdates asks and what it compares with.
struct UpdateServer {
  std::string version_file_address;
  std::string user_agent;  // the program title
  int32_t own_version = 0;
};

/// Fetches the version file and compares its number with the program's own.
UpdateOutcome CheckForUpdates(const UpdateServer& server, const UpdateWaitHook& wait_hook = {});

enum class MessageButtons : int32_t { Ok, YesNo };
enum class MessageIcon : int32_t { Question, Information, Error };

/// A message box of the update check: title and text keys of group "Msg", buttons and icon.
struct UpdateMessage {
  std::string_view title_key;
  std::string_view text_key;
  MessageButtons buttons = MessageButtons::Ok;
  MessageIcon icon = MessageIcon::Information;
};

/// The box that reports `outcome`. Yes in the NewUpdate box opens the product page.
UpdateMessage UpdateMessageFor(UpdateOutcome outcome);

/// The start-up question whether to check now.
UpdateMessage UpdateQuestionMessage();

/// Days between automatic checks for an "Update Range"; nullopt for `Never`.
std::optional<int32_t> UpdateIntervalDays(int32_t update_range);

/// True when the start-up check is due at `now` (local seconds): "Update Range" is not `Never`
/// and more than its interval has passed since "Update Date".
bool IsUpdateCheckDue(const GeneralSettings& general, int64_t now);

/// The start-up check. When it is due, asks `ask_to_check` and on Yes runs `check`; then, whatever
/// the answer and the result, sets "Update Date" to the clock's time. Returns the outcome when a
/// check ran, for the window to show; nullopt when none ran.
std::optional<UpdateOutcome> RunAutomaticUpdateCheck(GeneralSettings& general,
                                                     const std::function<int64_t()>& clock,
                                                     const std::function<bool()>& ask_to_check,
                                                     const std::function<UpdateOutcome()>& check);
