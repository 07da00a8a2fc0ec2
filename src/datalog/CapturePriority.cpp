#include "datalog/CapturePriority.h"

#include <dbus/dbus.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <system_error>
#include <thread>

namespace pemra {

namespace {

constexpr const char* kRtkitName = "org.freedesktop.RealtimeKit1";
constexpr const char* kRtkitPath = "/org/freedesktop/RealtimeKit1";
constexpr int kBusTimeoutMs = 1000;

bool SetRealTime(int priority) {
  sched_param param{};
  param.sched_priority = priority;
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

std::optional<CapturePriority> OwnRealTime() {
  if (SetRealTime(kCaptureRealTimePriority)) {
    return CapturePriority{PriorityKind::RealTime, kCaptureRealTimePriority};
  }
  // Without the privilege, RLIMIT_RTPRIO caps the priority a thread may give itself.
  rlimit limit{};
  if (getrlimit(RLIMIT_RTPRIO, &limit) != 0 || limit.rlim_cur < 1 ||
      limit.rlim_cur >= static_cast<rlim_t>(kCaptureRealTimePriority)) {
    return std::nullopt;
  }
  const int allowed = static_cast<int>(limit.rlim_cur);
  if (!SetRealTime(allowed)) return std::nullopt;
  return CapturePriority{PriorityKind::RealTime, allowed};
}

// One private connection to the system bus for the length of a request.
class SystemBus {
 public:
  SystemBus() {
    dbus_error_init(&error_);
    bus_ = dbus_bus_get_private(DBUS_BUS_SYSTEM, &error_);
    if (bus_ != nullptr) dbus_connection_set_exit_on_disconnect(bus_, FALSE);
    dbus_error_free(&error_);
  }
  ~SystemBus() {
    if (bus_ == nullptr) return;
    dbus_connection_close(bus_);
    dbus_connection_unref(bus_);
  }
  SystemBus(const SystemBus&) = delete;
  SystemBus& operator=(const SystemBus&) = delete;

  bool Connected() const { return bus_ != nullptr; }

  // Sends a call (taking it over) and waits for its reply; null on any failure.
  DBusMessage* Call(DBusMessage* call) {
    if (call == nullptr) return nullptr;
    DBusMessage* reply =
        dbus_connection_send_with_reply_and_block(bus_, call, kBusTimeoutMs, &error_);
    dbus_message_unref(call);
    dbus_error_free(&error_);
    return reply;
  }

  // An integer property of rtkit (int32 or int64 inside the variant).
  std::optional<int64_t> RtkitProperty(const char* name) {
    DBusMessage* call = dbus_message_new_method_call(kRtkitName, kRtkitPath,
                                                     "org.freedesktop.DBus.Properties", "Get");
    if (call == nullptr) return std::nullopt;
    const char* interface = kRtkitName;
    if (!dbus_message_append_args(call, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name,
                                  DBUS_TYPE_INVALID)) {
      dbus_message_unref(call);
      return std::nullopt;
    }
    DBusMessage* reply = Call(call);
    if (reply == nullptr) return std::nullopt;
    std::optional<int64_t> value;
    DBusMessageIter args;
    DBusMessageIter variant;
    if (dbus_message_iter_init(reply, &args) &&
        dbus_message_iter_get_arg_type(&args) == DBUS_TYPE_VARIANT) {
      dbus_message_iter_recurse(&args, &variant);
      const int type = dbus_message_iter_get_arg_type(&variant);
      if (type == DBUS_TYPE_INT32) {
        dbus_int32_t v = 0;
        dbus_message_iter_get_basic(&variant, &v);
        value = v;
      } else if (type == DBUS_TYPE_INT64) {
        dbus_int64_t v = 0;
        dbus_message_iter_get_basic(&variant, &v);
        value = v;
      }
    }
    dbus_message_unref(reply);
    return value;
  }

 private:
  DBusError error_{};
  DBusConnection* bus_ = nullptr;
};

std::optional<CapturePriority> RtkitRealTime() {
  dbus_threads_init_default();
  SystemBus bus;
  if (!bus.Connected()) return std::nullopt;
  const std::optional<int64_t> max = bus.RtkitProperty("MaxRealtimePriority");
  const std::optional<int64_t> rtTime = bus.RtkitProperty("RTTimeUSecMax");
  if (!max || *max < 1 || !rtTime || *rtTime < 1) return std::nullopt;
  // rtkit grants real-time only to a process whose RLIMIT_RTTIME is within its bound: a
  // real-time thread that runs that long without blocking gets a signal. The capture
  // thread blocks at every sample.
  rlimit limit{};
  if (getrlimit(RLIMIT_RTTIME, &limit) == 0 &&
      (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > static_cast<rlim_t>(*rtTime))) {
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(*rtTime);
    if (setrlimit(RLIMIT_RTTIME, &limit) != 0) return std::nullopt;
  }
  const auto priority = static_cast<dbus_uint32_t>(std::min<int64_t>(kCaptureRealTimePriority, *max));
  const auto thread = static_cast<dbus_uint64_t>(gettid());
  DBusMessage* call =
      dbus_message_new_method_call(kRtkitName, kRtkitPath, kRtkitName, "MakeThreadRealtime");
  if (call == nullptr) return std::nullopt;
  if (!dbus_message_append_args(call, DBUS_TYPE_UINT64, &thread, DBUS_TYPE_UINT32, &priority,
                                DBUS_TYPE_INVALID)) {
    dbus_message_unref(call);
    return std::nullopt;
  }
  DBusMessage* reply = bus.Call(call);
  if (reply == nullptr) return std::nullopt;
  dbus_message_unref(reply);
  return CapturePriority{PriorityKind::Rtkit, static_cast<int>(priority)};
}

std::optional<CapturePriority> LowerNice() {
  const auto thread = static_cast<id_t>(gettid());
  if (setpriority(PRIO_PROCESS, thread, kCaptureNice) == 0) {
    return CapturePriority{PriorityKind::Nice, kCaptureNice};
  }
  // Without the privilege, RLIMIT_NICE allows nice values down to 20 - the limit.
  rlimit limit{};
  if (getrlimit(RLIMIT_NICE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur <= 20) {
    return std::nullopt;
  }
  const int lowest = std::max(kCaptureNice, 20 - static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 40)));
  if (lowest >= 0 || setpriority(PRIO_PROCESS, thread, lowest) != 0) return std::nullopt;
  return CapturePriority{PriorityKind::Nice, lowest};
}

}  // namespace

CapturePriority RaiseThreadPriority() {
  if (auto granted = OwnRealTime()) return *granted;
  if (auto granted = RtkitRealTime()) return *granted;
  if (auto granted = LowerNice()) return *granted;
  return CapturePriority{PriorityKind::Normal, 0};
}

CapturePriority ProbeCapturePriority() {
  CapturePriority result;
  try {
    std::thread probe([&result] { result = RaiseThreadPriority(); });
    probe.join();
  } catch (const std::system_error&) {
    // No thread to ask with: say nothing was asked.
  }
  return result;
}

std::string PriorityText(const CapturePriority& priority) {
  switch (priority.kind) {
    case PriorityKind::RealTime:
      return "real-time (SCHED_FIFO " + std::to_string(priority.level) + ")";
    case PriorityKind::Rtkit:
      return "real-time through rtkit (SCHED_RR " + std::to_string(priority.level) + ")";
    case PriorityKind::Nice:
      return "nice " + std::to_string(priority.level);
    case PriorityKind::Normal:
      return "normal (no higher priority allowed)";
    case PriorityKind::NotAsked:
      break;
  }
  return "normal";
}

}  // namespace pemra
