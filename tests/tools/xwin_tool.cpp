// X helper for the end-to-end tests under Xvfb, for what xdotool cannot do: closes a window as a window manager does
// (WM_DELETE_WINDOW), saves it (or a region of it) as a PPM screenshot, and counts and locates a colour in it.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {
// The pixels of the window's region [x0, x1) x [y0, y1) (clipped to the window) as 0xRRGGBB, row by row, on a 24-bit
// TrueColor display; empty on failure.
std::vector<unsigned long> Pixels(Display* dpy, Window w, int& width, int& height, int x0 = 0, int y0 = 0,
                                  int x1 = 1 << 20, int y1 = 1 << 20) {
  XWindowAttributes a{};
  if (!XGetWindowAttributes(dpy, w, &a)) return {};
  x0 = std::max(x0, 0), y0 = std::max(y0, 0), x1 = std::min(x1, a.width), y1 = std::min(y1, a.height);
  if (x1 <= x0 || y1 <= y0) return {};
  XImage* img = XGetImage(dpy, w, x0, y0, unsigned(x1 - x0), unsigned(y1 - y0), AllPlanes, ZPixmap);
  std::vector<unsigned long> pixels;
  for (int y = 0; img && y < y1 - y0; ++y)
    for (int x = 0; x < x1 - x0; ++x) pixels.push_back(XGetPixel(img, x, y) & 0xFFFFFF);
  if (img) XDestroyImage(img);
  width = x1 - x0, height = y1 - y0;
  return pixels;
}

int Screenshot(const std::vector<unsigned long>& pixels, int width, int height, const char* path) {
  FILE* out = std::fopen(path, "wb");
  if (out == nullptr) return 1;
  std::string bytes;
  for (unsigned long p : pixels) bytes += {char(p >> 16), char(p >> 8), char(p)};
  std::fprintf(out, "P6\n%d %d\n255\n", width, height);
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  return std::fclose(out) == 0 ? 0 : 1;
}

// Prints how many pixels inside [x0, x1) x [y0, y1) have exactly the colour R G B, and their centroid:
// "count cx cy" (-1 -1 when there are none).
int Blob(const std::vector<unsigned long>& pixels, int width, int height, char** arg) {
  int v[7];
  for (int i = 0; i < 7; ++i) v[i] = std::atoi(arg[i]);
  const unsigned long want = (v[0] & 0xFFul) << 16 | (v[1] & 0xFF) << 8 | (v[2] & 0xFF);
  long count = 0;
  double sx = 0, sy = 0;
  for (int y = std::max(v[4], 0); y < std::min(v[6], height); ++y)
    for (int x = std::max(v[3], 0); x < std::min(v[5], width); ++x)
      if (pixels[size_t(y) * width + x] == want) ++count, sx += x, sy += y;
  std::printf("%ld %.0f %.0f\n", count, count ? sx / count : -1.0, count ? sy / count : -1.0);
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc >= 3 ? argv[1] : "";
  const int wantArgs = cmd == "close" ? 3 : cmd == "shot" ? 4 : cmd == "crop" ? 8 : cmd == "blob" ? 10 : -1;
  if (argc != wantArgs) {
    std::fprintf(stderr, "usage: xwin_tool close WID | shot WID FILE.ppm | crop WID X0 Y0 X1 Y1 FILE.ppm |\n"
                         "       blob WID R G B X0 Y0 X1 Y1\n");
    return 2;
  }
  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) {
    std::fprintf(stderr, "xwin_tool: cannot open display\n");
    return 1;
  }
  const Window w = std::strtoul(argv[2], nullptr, 0);
  int width = 0, height = 0;
  if (cmd == "crop") {  // only the region: cheap enough to poll
    const std::vector<unsigned long> pixels = Pixels(dpy, w, width, height, std::atoi(argv[3]), std::atoi(argv[4]),
                                                     std::atoi(argv[5]), std::atoi(argv[6]));
    return pixels.empty() ? 1 : Screenshot(pixels, width, height, argv[7]);
  }
  if (cmd == "shot" || cmd == "blob") {
    const std::vector<unsigned long> pixels = Pixels(dpy, w, width, height);
    if (pixels.empty()) return 1;
    return cmd == "shot" ? Screenshot(pixels, width, height, argv[3]) : Blob(pixels, width, height, argv + 3);
  }
  const long deleteWindow = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
  XEvent ev{.xclient = {.type = ClientMessage, .window = w, .message_type = XInternAtom(dpy, "WM_PROTOCOLS", False),
                        .format = 32, .data = {.l = {deleteWindow, CurrentTime}}}};
  XSendEvent(dpy, w, False, NoEventMask, &ev);
  XSync(dpy, False);
  return 0;
}
