#include "platform/system.h"

#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <ctime>

namespace {
std::atomic<int32_t> desktop_width{0};
std::atomic<int32_t> desktop_height{0};
}  // namespace

DesktopSize PrimaryDesktopSize() { return {desktop_width.load(), desktop_height.load()}; }

void SetPrimaryDesktopSize(DesktopSize size) {
  desktop_width = size.width;
  desktop_height = size.height;
}

int64_t UtcSecondsToLocal(int64_t utc_seconds) {
  const time_t moment = static_cast<time_t>(utc_seconds);
  struct tm local {};
  if (!localtime_r(&moment, &local)) return utc_seconds;
  return utc_seconds + local.tm_gmtoff;
}

int64_t LocalSecondsToUtc(int64_t local_seconds) {
  // Read the local clock fields back through mktime, which knows daylight-saving rules.
  const time_t as_utc = static_cast<time_t>(local_seconds);
  struct tm fields {};
  if (!gmtime_r(&as_utc, &fields)) return local_seconds;
  fields.tm_isdst = -1;
  const time_t moment = mktime(&fields);
  if (moment == static_cast<time_t>(-1)) return local_seconds;
  return static_cast<int64_t>(moment);
}

int64_t LocalNowSeconds() { return UtcSecondsToLocal(static_cast<int64_t>(time(nullptr))); }

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  std::string path(buffer, static_cast<size_t>(length));
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

int32_t UsableProcessorCount() {
  // The affinity mask, not the machine's count: a container or taskset may allow fewer.
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int32_t>(online) : 1;
}
