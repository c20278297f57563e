// Times the window program as a user meets it, on the X display of $DISPLAY (the benchmark runs
// it under Xvfb, where no window manager reparents windows, so maps show up on the root window):
//
//   bench_window_start COMMAND [ARGUMENTS...]
//     the time from the start of COMMAND until its first top-level window is mapped;
//     prints "<milliseconds> <exit status>".
//   bench_window_start --convert DOCUMENT OUTPUT COMMAND [ARGUMENTS...]
//     as above, then drops DOCUMENT onto the window (the XDND protocol, as a file manager does),
//     presses F5 (XTest) and times until OUTPUT, the PNG the conversion writes, appears;
//     prints "<start milliseconds> <conversion milliseconds> <exit status>".
//
// The program is ended with SIGTERM afterwards. A time that could not be taken prints as "-".

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto GiveUp = std::chrono::seconds(30);

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Waits up to `limit` for an X event that `wanted` accepts; false when none came.
template <typename Wanted>
bool WaitForEvent(Display* display, Clock::time_point limit, XEvent& event, Wanted wanted) {
  pollfd connection{ConnectionNumber(display), POLLIN, 0};
  while (Clock::now() < limit) {
    while (XPending(display) > 0) {
      XNextEvent(display, &event);
      if (wanted(event)) return true;
    }
    poll(&connection, 1, 20);
  }
  return false;
}

// The window carrying the XdndAware property at or below `window`, for the drop.
Window DropTarget(Display* display, Window window, Atom aware) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, aware, 0, 1, False, AnyPropertyType, &type, &format,
                         &count, &after, &data) == Success &&
      data) {
    XFree(data);
    if (type != None) return window;
  }
  Window root_return = 0, parent = 0;
  Window* children = nullptr;
  unsigned int child_count = 0;
  if (!XQueryTree(display, window, &root_return, &parent, &children, &child_count)) return None;
  Window found = None;
  for (unsigned int i = 0; i < child_count && found == None; ++i) {
    found = DropTarget(display, children[i], aware);
  }
  if (children) XFree(children);
  return found;
}

void SendClientMessage(Display* display, Window target, Atom type, const long (&data)[5]) {
  XEvent message{};
  message.xclient.type = ClientMessage;
  message.xclient.window = target;
  message.xclient.message_type = type;
  message.xclient.format = 32;
  for (int i = 0; i < 5; ++i) message.xclient.data.l[i] = data[i];
  XSendEvent(display, target, False, NoEventMask, &message);
  XFlush(display);
}

// Drops `path` onto `window` as a file manager would: enter, position, drop, and the uri-list
// handed over when the target asks for the selection. True when the target finished the drop.
bool DropFile(Display* display, Window window, const std::string& path) {
  const Atom aware = XInternAtom(display, "XdndAware", False);
  const Atom enter = XInternAtom(display, "XdndEnter", False);
  const Atom position = XInternAtom(display, "XdndPosition", False);
  const Atom status = XInternAtom(display, "XdndStatus", False);
  const Atom drop = XInternAtom(display, "XdndDrop", False);
  const Atom finished = XInternAtom(display, "XdndFinished", False);
  const Atom copy = XInternAtom(display, "XdndActionCopy", False);
  const Atom selection = XInternAtom(display, "XdndSelection", False);
  const Atom uri_list = XInternAtom(display, "text/uri-list", False);
  const Window target = DropTarget(display, window, aware);
  if (target == None) return false;

  const Window source = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0,
                                            0, 0);
  XSetSelectionOwner(display, selection, source, CurrentTime);
  XWindowAttributes attributes{};
  XGetWindowAttributes(display, window, &attributes);
  Window child = 0;
  int x = 0, y = 0;
  XTranslateCoordinates(display, window, DefaultRootWindow(display), attributes.width / 2,
                        attributes.height / 2, &x, &y, &child);
  const long source_id = static_cast<long>(source);
  SendClientMessage(display, target, enter, {source_id, 5L << 24, static_cast<long>(uri_list)});
  SendClientMessage(display, target, position,
                    {source_id, 0, (static_cast<long>(x) << 16) | y, CurrentTime,
                     static_cast<long>(copy)});
  const auto limit = Clock::now() + std::chrono::seconds(5);
  XEvent event;
  if (!WaitForEvent(display, limit, event, [&](const XEvent& e) {
        return e.type == ClientMessage && e.xclient.message_type == status;
      })) {
    return false;
  }
  SendClientMessage(display, target, drop, {source_id, 0, CurrentTime});
  const std::string uri = "file://" + path + "\r\n";
  bool done = false;
  WaitForEvent(display, limit, event, [&](const XEvent& e) {
    if (e.type == SelectionRequest) {
      const XSelectionRequestEvent& request = e.xselectionrequest;
      XEvent reply{};
      reply.xselection.type = SelectionNotify;
      reply.xselection.requestor = request.requestor;
      reply.xselection.selection = request.selection;
      reply.xselection.target = request.target;
      reply.xselection.time = request.time;
      reply.xselection.property = None;
      if (request.target == uri_list) {
        XChangeProperty(display, request.requestor, request.property, uri_list, 8,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(uri.data()),
                        static_cast<int>(uri.size()));
        reply.xselection.property = request.property;
      }
      XSendEvent(display, request.requestor, False, NoEventMask, &reply);
      XFlush(display);
      return false;
    }
    done = e.type == ClientMessage && e.xclient.message_type == finished;
    return done;
  });
  XDestroyWindow(display, source);
  return done;
}

// Presses and releases F5 over `window`: the pointer is moved onto it first, since without a
// window manager the keyboard follows the pointer.
void PressF5(Display* display, Window window) {
  XWindowAttributes attributes{};
  XGetWindowAttributes(display, window, &attributes);
  XTestFakeMotionEvent(display, -1, attributes.x + attributes.width / 2,
                       attributes.y + attributes.height / 2, CurrentTime);
  const KeyCode f5 = XKeysymToKeycode(display, XK_F5);
  XTestFakeKeyEvent(display, f5, True, CurrentTime);
  XTestFakeKeyEvent(display, f5, False, CurrentTime);
  XFlush(display);
}

// Waits until `path` exists; the writer links the finished file in under its name at once.
bool WaitForFile(const std::string& path, Clock::time_point limit) {
  const std::string folder = path.substr(0, path.find_last_of('/') + 1);
  const int watch = inotify_init1(IN_CLOEXEC);
  if (watch < 0) return false;
  inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MOVED_TO);
  struct stat info {};
  bool found = stat(path.c_str(), &info) == 0;
  char events[4096];
  while (!found && Clock::now() < limit) {
    pollfd ready{watch, POLLIN, 0};
    if (poll(&ready, 1, 100) > 0) (void)!read(watch, events, sizeof events);
    found = stat(path.c_str(), &info) == 0;
  }
  close(watch);
  return found;
}

void PrintTime(double milliseconds) {
  if (milliseconds < 0) {
    std::printf("- ");
  } else {
    std::printf("%.1f ", milliseconds);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  std::string document, output;
  if (argc > 3 && std::strcmp(argv[1], "--convert") == 0) {
    document = argv[2];
    output = argv[3];
    first = 4;
    unlink(output.c_str());
  }
  if (argc <= first) return 2;
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "bench_window_start: no display\n");
    return 2;
  }
  const Window root = DefaultRootWindow(display);
  XSelectInput(display, root, SubstructureNotifyMask);
  XSync(display, False);

  const auto start = Clock::now();
  const pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    const int null_device = open("/dev/null", O_WRONLY);
    if (null_device >= 0) {
      dup2(null_device, STDOUT_FILENO);
      dup2(null_device, STDERR_FILENO);
    }
    execvp(argv[first], argv + first);
    _exit(127);
  }

  XEvent event;
  double shown = -1;
  Window window = None;
  if (WaitForEvent(display, start + GiveUp, event, [&](const XEvent& e) {
        return e.type == MapNotify && !e.xmap.override_redirect;
      })) {
    shown = MillisecondsSince(start);
    window = event.xmap.window;
  }

  double converted = -1;
  if (window != None && !document.empty()) {
    // Let the window finish its first layout and paint before the user acts.
    WaitForEvent(display, Clock::now() + std::chrono::milliseconds(500), event,
                 [](const XEvent&) { return false; });
    if (DropFile(display, window, document)) {
      WaitForEvent(display, Clock::now() + std::chrono::milliseconds(200), event,
                   [](const XEvent&) { return false; });
      const auto pressed = Clock::now();
      PressF5(display, window);
      if (WaitForFile(output, pressed + GiveUp)) converted = MillisecondsSince(pressed);
      // The end report comes a poll later; a run still in work would ask before it ends.
      WaitForEvent(display, Clock::now() + std::chrono::milliseconds(500), event,
                   [](const XEvent&) { return false; });
    }
  }

  // A polite end first; a program that does not end within a few seconds is killed.
  kill(child, SIGTERM);
  int status = 0;
  const auto ending = Clock::now();
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() - ending > std::chrono::seconds(5)) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    usleep(10000);
  }
  XCloseDisplay(display);
  const int exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  PrintTime(shown);
  if (!document.empty()) PrintTime(converted);
  std::printf("%d\n", exit_status);
  return 0;
}
