// X helper for the end-to-end tests, run against the game under Xvfb: finds a top-level
// window by title, reports its title and size, closes it the way a window manager does
// (a WM_DELETE_WINDOW client message), saves its pixels as a PPM screenshot, and measures
// where a colour lies in it.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string WindowTitle(Display* dpy, Window w) {
  Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
  Atom net_name = XInternAtom(dpy, "_NET_WM_NAME", False);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(dpy, w, net_name, 0, 1024, False, utf8, &type, &format, &count, &after, &data) == Success &&
      data != nullptr) {
    title.assign(reinterpret_cast<char*>(data), count);
    XFree(data);
    return title;
  }
  char* name = nullptr;
  if (XFetchName(dpy, w, &name) && name != nullptr) {
    title = name;
    XFree(name);
  }
  return title;
}

Window FindByTitle(Display* dpy, Window root, const std::string& title) {
  Window parent, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(dpy, root, &root, &parent, &children, &count)) return 0;
  Window found = 0;
  for (unsigned int i = 0; i < count && found == 0; ++i) {
    XWindowAttributes attrs;
    if (XGetWindowAttributes(dpy, children[i], &attrs) && attrs.map_state == IsViewable &&
        WindowTitle(dpy, children[i]) == title) {
      found = children[i];
    } else {
      found = FindByTitle(dpy, children[i], title);
    }
  }
  if (children) XFree(children);
  return found;
}

int SendClose(Display* dpy, Window w) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(dpy, w, False, NoEventMask, &ev);
  XSync(dpy, False);
  return 0;
}

struct Rgb {
  int r, g, b;
};

// The window's pixels on a 24-bit TrueColor display; calls `visit(x, y, rgb)` for each.
template <class Visit>
bool ForEachPixel(Display* dpy, Window w, int* width, int* height, Visit&& visit) {
  XWindowAttributes attrs;
  if (!XGetWindowAttributes(dpy, w, &attrs)) return false;
  XImage* img = XGetImage(dpy, w, 0, 0, attrs.width, attrs.height, AllPlanes, ZPixmap);
  if (img == nullptr) return false;
  *width = attrs.width;
  *height = attrs.height;
  for (int y = 0; y < attrs.height; ++y) {
    for (int x = 0; x < attrs.width; ++x) {
      const unsigned long p = XGetPixel(img, x, y);
      visit(x, y, Rgb{static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF), static_cast<int>(p & 0xFF)});
    }
  }
  XDestroyImage(img);
  return true;
}

int Screenshot(Display* dpy, Window w, const char* path) {
  FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return 1;
  std::string pixels;
  int width = 0, height = 0;
  const bool ok = ForEachPixel(dpy, w, &width, &height, [&](int, int, Rgb c) {
    pixels.push_back(static_cast<char>(c.r));
    pixels.push_back(static_cast<char>(c.g));
    pixels.push_back(static_cast<char>(c.b));
  });
  std::fprintf(out, "P6\n%d %d\n255\n", width, height);
  std::fwrite(pixels.data(), 1, pixels.size(), out);
  std::fclose(out);
  return ok ? 0 : 1;
}

// Prints how many pixels inside the rectangle [x0, x1) x [y0, y1) have exactly the colour,
// and their centroid: "count cx cy".
int Blob(Display* dpy, Window w, Rgb want, int x0, int y0, int x1, int y1) {
  long count = 0;
  double sx = 0, sy = 0;
  int width = 0, height = 0;
  const bool ok = ForEachPixel(dpy, w, &width, &height, [&](int x, int y, Rgb c) {
    if (x < x0 || x >= x1 || y < y0 || y >= y1) return;
    if (c.r != want.r || c.g != want.g || c.b != want.b) return;
    ++count;
    sx += x;
    sy += y;
  });
  if (!ok) return 1;
  std::printf("%ld %.0f %.0f\n", count, count ? sx / count : -1.0, count ? sy / count : -1.0);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: xwin_tool find TITLE TIMEOUT_MS | title WID | size WID | close WID | shot WID FILE.ppm |\n"
               "       blob WID R G B X0 Y0 X1 Y1\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) {
    std::fprintf(stderr, "xwin_tool: cannot open display\n");
    return 1;
  }
  const std::string cmd = argv[1];
  if (cmd == "find" && argc == 4) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::atoi(argv[3]));
    do {
      if (Window w = FindByTitle(dpy, DefaultRootWindow(dpy), argv[2])) {
        std::printf("%lu\n", w);
        return 0;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < deadline);
    return 1;
  }
  const Window w = std::strtoul(argv[2], nullptr, 0);
  if (cmd == "title") {
    std::printf("%s\n", WindowTitle(dpy, w).c_str());
    return 0;
  }
  if (cmd == "size") {
    XWindowAttributes attrs;
    if (!XGetWindowAttributes(dpy, w, &attrs)) return 1;
    std::printf("%d %d\n", attrs.width, attrs.height);
    return 0;
  }
  if (cmd == "close") return SendClose(dpy, w);
  if (cmd == "shot" && argc == 4) return Screenshot(dpy, w, argv[3]);
  if (cmd == "blob" && argc == 10) {
    int v[7];
    for (int i = 0; i < 7; ++i) v[i] = std::atoi(argv[3 + i]);
    return Blob(dpy, w, Rgb{v[0], v[1], v[2]}, v[3], v[4], v[5], v[6]);
  }
  return Usage();
}
