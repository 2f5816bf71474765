#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

#include "frame_priority.h"

#ifdef LUVRIN_HAS_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#endif

namespace luvrin::platform {

namespace {

// Above the desktop's ordinary work and below what sound servers and the kernel's own threads
// take, and no higher than RealtimeKit hands out by default (20).
constexpr int kPriority = 15;
// A frame takes microseconds between two sleeps: this long without one is a loop that spins.
constexpr rlim_t kRunawayUs = 100'000;
// RealtimeKit grants only to a process whose hard bound is at most this; the system ends the
// process at it, so the soft bound above must have put the thread back long before.
constexpr rlim_t kBrokerHardUs = 200'000;

std::atomic<pid_t> raisedThread{0};

// At the soft bound the system sends SIGXCPU, most often to the spinning thread itself; a
// system call is all a signal handler may make.
void demote(int) {
  const pid_t tid = raisedThread.load();
  if (tid == 0) return;
  sched_param ordinary{};
  ::syscall(SYS_sched_setscheduler, tid, SCHED_OTHER, &ordinary);
}

void guardAgainstRunaway(rlim_t hardUs) {
  struct sigaction action {};
  action.sa_handler = demote;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGXCPU, &action, nullptr);
  rlimit bound{};
  ::getrlimit(RLIMIT_RTTIME, &bound);
  if (hardUs < bound.rlim_max) bound.rlim_max = hardUs;
  bound.rlim_cur = bound.rlim_max < kRunawayUs ? bound.rlim_max : kRunawayUs;
  ::setrlimit(RLIMIT_RTTIME, &bound);
}

QString refusal(const QString& why) {
  return why + QStringLiteral(
                   "。机器繁忙时帧可能推迟。允许的方法 (见 README): 在 /etc/security/limits.conf "
                   "给用户 rtprio %1 以上, 或 setcap cap_sys_nice=ep LUVRIN")
                   .arg(kPriority);
}

}  // namespace

void raiseFramePriority(QObject* context, std::function<void(const FramePriority&)> onResult) {
  const pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
  raisedThread.store(tid);
  sched_param param{};
  param.sched_priority = kPriority;
  guardAgainstRunaway(RLIM_INFINITY);
  // Reset on fork: a thread this one starts is ordinary again.
  if (::sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0) {
    onResult({true, QStringLiteral("SCHED_FIFO %1").arg(kPriority)});
    return;
  }
  const QString direct =
      QStringLiteral("SCHED_FIFO: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
#ifdef LUVRIN_HAS_DBUS
  QDBusConnection bus = QDBusConnection::systemBus();
  if (bus.isConnected()) {
    guardAgainstRunaway(kBrokerHardUs);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.RealtimeKit1"),
        QStringLiteral("/org/freedesktop/RealtimeKit1"),
        QStringLiteral("org.freedesktop.RealtimeKit1"), QStringLiteral("MakeThreadRealtime"));
    call << quint64(tid) << quint32(kPriority);
    // Answered on this thread's event loop: frames go on at ordinary priority meanwhile.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [direct, onResult = std::move(onResult)](QDBusPendingCallWatcher* w) {
                       w->deleteLater();
                       const QDBusPendingReply<> reply = *w;
                       if (!reply.isError()) {
                         onResult({true, QStringLiteral("RealtimeKit SCHED_RR %1").arg(kPriority)});
                         return;
                       }
                       onResult({false, refusal(direct + QStringLiteral("; RealtimeKit: ") +
                                                reply.error().message())});
                     });
    return;
  }
  onResult({false, refusal(direct + QStringLiteral("; RealtimeKit: 无系统 D-Bus"))});
#else
  (void)context;
  onResult({false, refusal(direct)});
#endif
}

}  // namespace luvrin::platform
