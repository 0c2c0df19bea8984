// A helper for the window tests, run on an X display (Xvfb in CI):
//
//   vmx-x-display wait TITLE SECONDS  waits until a window named TITLE is shown
//   vmx-x-display grab FILE.png [TITLE]  saves the screen, or what it shows of
//                                     the window named TITLE, as a PNG
//   vmx-x-display close TITLE         asks the window to close, as a desktop's
//                                     close button does
//   vmx-x-display key TITLE KEY SECONDS  holds a key (an X name: q, space, Left)
//                                     down in the window for that long
//
// Status 0 on success, 1 on failure (with the reason on standard error).
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "png_image.h"

namespace {

int fail(const char* reason) {
    std::fprintf(stderr, "vmx-x-display: %s\n", reason);
    return 1;
}

// The first viewable window below top whose name is title.
Window find_window(Display* display, Window top, const char* title) {
    char* name = nullptr;
    bool match = XFetchName(display, top, &name) && name && std::strcmp(name, title) == 0;
    if (name)
        XFree(name);
    XWindowAttributes attributes;
    if (match && XGetWindowAttributes(display, top, &attributes) &&
        attributes.map_state == IsViewable) {
        return top;
    }
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, top, &root, &parent, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && !found; ++i)
        found = find_window(display, children[i], title);
    if (children)
        XFree(children);
    return found;
}

int wait_for(Display* display, const char* title, double seconds) {
    const struct timespec pause = {0, 50000000};
    for (double waited = 0; waited < seconds; waited += 0.05) {
        if (find_window(display, DefaultRootWindow(display), title))
            return 0;
        nanosleep(&pause, nullptr);
    }
    return fail("no such window shown");
}

int channel(unsigned long pixel, unsigned long mask) {
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        shift += 1;
    }
    return mask ? static_cast<int>(((pixel >> shift) & mask) * 255 / mask) : 0;
}

int grab(Display* display, const char* path, const char* title) {
    Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, root, &attributes);
    int left = 0, top = 0, width = attributes.width, height = attributes.height;
    if (title) {
        Window window = find_window(display, root, title);
        if (!window)
            return fail("no such window shown");
        Window child = 0;
        XGetWindowAttributes(display, window, &attributes);
        XTranslateCoordinates(display, window, root, 0, 0, &left, &top, &child);
        width = attributes.width;
        height = attributes.height;
    }
    // The screen as it is seen: a window's part off screen is not there.
    XImage* image = XGetImage(display, root, left, top, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image)
        return fail("cannot read the screen");
    png::Image out;
    out.width = width;
    out.height = height;
    out.channels = 3;
    out.pixels.reserve(static_cast<std::size_t>(out.width) * out.height * 3);
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            unsigned long pixel = XGetPixel(image, x, y);
            out.pixels.push_back(static_cast<std::uint8_t>(channel(pixel, image->red_mask)));
            out.pixels.push_back(static_cast<std::uint8_t>(channel(pixel, image->green_mask)));
            out.pixels.push_back(static_cast<std::uint8_t>(channel(pixel, image->blue_mask)));
        }
    }
    XDestroyImage(image);
    return png::write(path, out) ? 0 : 1;
}

int close_window(Display* display, const char* title) {
    Window window = find_window(display, DefaultRootWindow(display), title);
    if (!window)
        return fail("no such window shown");
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    return 0;
}

void send_key(Display* display, Window window, KeyCode code, bool down) {
    XEvent event = {};
    event.xkey.type = down ? KeyPress : KeyRelease;
    event.xkey.display = display;
    event.xkey.window = window;
    event.xkey.root = DefaultRootWindow(display);
    event.xkey.time = CurrentTime;
    event.xkey.same_screen = True;
    event.xkey.keycode = code;
    XSendEvent(display, window, True, down ? KeyPressMask : KeyReleaseMask, &event);
    XFlush(display);
}

int hold_key(Display* display, const char* title, const char* key, double seconds) {
    Window window = find_window(display, DefaultRootWindow(display), title);
    if (!window)
        return fail("no such window shown");
    KeySym symbol = XStringToKeysym(key);
    KeyCode code = symbol == NoSymbol ? 0 : XKeysymToKeycode(display, symbol);
    if (code == 0)
        return fail("no such key");
    send_key(display, window, code, true);
    // The key may end the program and its window before it is let go.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    const struct timespec pause = {static_cast<time_t>(seconds),
                                   static_cast<long>((seconds - static_cast<long>(seconds)) * 1e9)};
    nanosleep(&pause, nullptr);
    send_key(display, window, code, false);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return fail(
            "usage: wait TITLE SECONDS | grab FILE.png [TITLE] | close TITLE | key TITLE KEY "
            "SECONDS");
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return fail("no X display");
    int status = 1;
    if (std::strcmp(argv[1], "wait") == 0 && argc == 4) {
        status = wait_for(display, argv[2], std::atof(argv[3]));
    } else if (std::strcmp(argv[1], "grab") == 0) {
        status = grab(display, argv[2], argc > 3 ? argv[3] : nullptr);
    } else if (std::strcmp(argv[1], "key") == 0 && argc == 5) {
        status = hold_key(display, argv[2], argv[3], std::atof(argv[4]));
    } else if (std::strcmp(argv[1], "close") == 0) {
        status = close_window(display, argv[2]);
    } else {
        status = fail("unknown request");
    }
    XCloseDisplay(display);
    return status;
}
