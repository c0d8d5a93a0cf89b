"""Watching the X server and sending input to it, through Xlib (ctypes).

One connection does both, so that an input event and the window change it
causes are timed on the same clock (time.perf_counter, sub-microsecond
resolution) with no process start in between:

- keys, pointer motion and clicks go out through the XTEST extension, exactly
  as xdotool sends them; the time taken is the moment the request has been
  flushed to the server;
- window changes come in as events: MapNotify and UnmapNotify of the root's
  children (override-redirect windows such as popup menus), and of every
  top-level client window created while the watcher runs (a window manager
  reparents those, so they are watched on the window itself), and
  PropertyNotify of their names.

An event is stamped when the watcher reads it from the connection; the
watcher blocks in select() on the connection, so that delay is the
scheduler's wake-up time, typically tens of microseconds.
"""
import ctypes
import ctypes.util
import os
import select
import time

_x11 = ctypes.CDLL(ctypes.util.find_library('X11') or 'libX11.so.6')
_xtst = ctypes.CDLL(ctypes.util.find_library('Xtst') or 'libXtst.so.6')

Window = ctypes.c_ulong
Atom = ctypes.c_ulong

KeyPress, ButtonPress = 2, 4
CreateNotify, DestroyNotify, UnmapNotify, MapNotify = 16, 17, 18, 19
ReparentNotify, PropertyNotify = 21, 28
StructureNotifyMask = 1 << 17
SubstructureNotifyMask = 1 << 19
PropertyChangeMask = 1 << 22
IsViewable = 2


class XAnyEvent(ctypes.Structure):
    _fields_ = [('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
                ('display', ctypes.c_void_p), ('window', Window)]


class XCreateWindowEvent(ctypes.Structure):
    _fields_ = [('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
                ('display', ctypes.c_void_p), ('parent', Window), ('window', Window),
                ('x', ctypes.c_int), ('y', ctypes.c_int), ('width', ctypes.c_int),
                ('height', ctypes.c_int), ('border_width', ctypes.c_int),
                ('override_redirect', ctypes.c_int)]


class XMapEvent(ctypes.Structure):
    """Also the layout of UnmapNotify and DestroyNotify up to `window`."""
    _fields_ = [('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
                ('display', ctypes.c_void_p), ('event', Window), ('window', Window),
                ('override_redirect', ctypes.c_int)]


class XPropertyEvent(ctypes.Structure):
    _fields_ = [('type', ctypes.c_int), ('serial', ctypes.c_ulong), ('send_event', ctypes.c_int),
                ('display', ctypes.c_void_p), ('window', Window), ('atom', Atom),
                ('time', ctypes.c_ulong), ('state', ctypes.c_int)]


class XEvent(ctypes.Union):
    _fields_ = [('type', ctypes.c_int), ('any', XAnyEvent), ('create', XCreateWindowEvent),
                ('map', XMapEvent), ('property', XPropertyEvent), ('pad', ctypes.c_long * 24)]


class XWindowAttributes(ctypes.Structure):
    _fields_ = [('x', ctypes.c_int), ('y', ctypes.c_int), ('width', ctypes.c_int),
                ('height', ctypes.c_int), ('border_width', ctypes.c_int),
                ('depth', ctypes.c_int), ('visual', ctypes.c_void_p), ('root', Window),
                ('class_', ctypes.c_int), ('bit_gravity', ctypes.c_int),
                ('win_gravity', ctypes.c_int), ('backing_store', ctypes.c_int),
                ('backing_planes', ctypes.c_ulong), ('backing_pixel', ctypes.c_ulong),
                ('save_under', ctypes.c_int), ('colormap', ctypes.c_ulong),
                ('map_installed', ctypes.c_int), ('map_state', ctypes.c_int),
                ('all_event_masks', ctypes.c_long), ('your_event_mask', ctypes.c_long),
                ('do_not_propagate_mask', ctypes.c_long), ('override_redirect', ctypes.c_int),
                ('screen', ctypes.c_void_p)]


class XClassHint(ctypes.Structure):
    _fields_ = [('res_name', ctypes.c_void_p), ('res_class', ctypes.c_void_p)]


_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)


def _declare():
    d = ctypes.c_void_p
    signatures = {
        'XOpenDisplay': (d, [ctypes.c_char_p]),
        'XCloseDisplay': (ctypes.c_int, [d]),
        'XDefaultRootWindow': (Window, [d]),
        'XConnectionNumber': (ctypes.c_int, [d]),
        'XSelectInput': (ctypes.c_int, [d, Window, ctypes.c_long]),
        'XPending': (ctypes.c_int, [d]),
        'XNextEvent': (ctypes.c_int, [d, ctypes.POINTER(XEvent)]),
        'XFlush': (ctypes.c_int, [d]),
        'XSync': (ctypes.c_int, [d, ctypes.c_int]),
        'XStringToKeysym': (ctypes.c_ulong, [ctypes.c_char_p]),
        'XKeysymToKeycode': (ctypes.c_ubyte, [d, ctypes.c_ulong]),
        'XGetWindowAttributes': (ctypes.c_int, [d, Window, ctypes.POINTER(XWindowAttributes)]),
        'XGetClassHint': (ctypes.c_int, [d, Window, ctypes.POINTER(XClassHint)]),
        'XFetchName': (ctypes.c_int, [d, Window, ctypes.POINTER(ctypes.c_char_p)]),
        'XFree': (ctypes.c_int, [ctypes.c_void_p]),
        'XQueryTree': (ctypes.c_int, [d, Window, ctypes.POINTER(Window), ctypes.POINTER(Window),
                                      ctypes.POINTER(ctypes.POINTER(Window)),
                                      ctypes.POINTER(ctypes.c_uint)]),
        'XTranslateCoordinates': (ctypes.c_int, [d, Window, Window, ctypes.c_int, ctypes.c_int,
                                                 ctypes.POINTER(ctypes.c_int),
                                                 ctypes.POINTER(ctypes.c_int),
                                                 ctypes.POINTER(Window)]),
        'XQueryKeymap': (ctypes.c_int, [d, ctypes.c_char * 32]),
        'XInternAtom': (Atom, [d, ctypes.c_char_p, ctypes.c_int]),
        'XSetErrorHandler': (ctypes.c_void_p, [_ERROR_HANDLER]),
    }
    for name, (result, arguments) in signatures.items():
        function = getattr(_x11, name)
        function.restype, function.argtypes = result, arguments
    for name, arguments in {
            'XTestFakeKeyEvent': [d, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong],
            'XTestFakeButtonEvent': [d, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong],
            'XTestFakeMotionEvent': [d, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                     ctypes.c_ulong]}.items():
        function = getattr(_xtst, name)
        function.restype, function.argtypes = ctypes.c_int, arguments


_declare()


# Windows go away while they are being looked at (a menu closing, a process
# ending): the requests on them fail with BadWindow, which must not end the
# watcher as Xlib's default handler would.
@_ERROR_HANDLER
def _ignore_errors(display, error):
    return 0


_x11.XSetErrorHandler(_ignore_errors)


class Mapped:
    """A window that was mapped: its id, its WM_CLASS name and the time."""

    def __init__(self, window, program, name, when, override_redirect):
        self.window, self.program, self.name = window, program, name
        self.time, self.override_redirect = when, override_redirect


class XWatch:
    def __init__(self, display=None):
        self.display = _x11.XOpenDisplay((display or os.environ['DISPLAY']).encode())
        if not self.display:
            raise RuntimeError('cannot open the X display')
        self.root = _x11.XDefaultRootWindow(self.display)
        self.fd = _x11.XConnectionNumber(self.display)
        self.wm_name = _x11.XInternAtom(self.display, b'WM_NAME', False)
        self.net_wm_name = _x11.XInternAtom(self.display, b'_NET_WM_NAME', False)
        _x11.XSelectInput(self.display, self.root, SubstructureNotifyMask)
        # Client windows that exist already (the target, the tray...).
        for window in self._top_level_clients():
            self._watch(window)
        _x11.XSync(self.display, False)
        self._event = XEvent()

    def close(self):
        _x11.XCloseDisplay(self.display)

    # ----- looking at windows

    def _children(self, window):
        root, parent = Window(), Window()
        children = ctypes.POINTER(Window)()
        count = ctypes.c_uint()
        if not _x11.XQueryTree(self.display, window, ctypes.byref(root), ctypes.byref(parent),
                               ctypes.byref(children), ctypes.byref(count)):
            return []
        result = [children[i] for i in range(count.value)]
        if children:
            _x11.XFree(children)
        return result

    def _top_level_clients(self):
        """The root's children and their children (clients inside frames)."""
        windows = []
        for child in self._children(self.root):
            windows.append(child)
            windows.extend(self._children(child))
        return windows

    def _watch(self, window):
        # Selected again for every new window: the server reuses the ids of
        # windows that a finished client had.
        _x11.XSelectInput(self.display, window, StructureNotifyMask | PropertyChangeMask)

    def program(self, window):
        """The res_name of WM_CLASS: under Wine the .exe's file name."""
        hint = XClassHint()
        if not _x11.XGetClassHint(self.display, window, ctypes.byref(hint)):
            return ''
        name = ctypes.string_at(hint.res_name).decode('utf-8', 'replace') if hint.res_name else ''
        for pointer in (hint.res_name, hint.res_class):
            if pointer:
                _x11.XFree(pointer)
        return name

    def name(self, window):
        text = ctypes.c_char_p()
        if not _x11.XFetchName(self.display, window, ctypes.byref(text)) or not text.value:
            return ''
        value = text.value.decode('utf-8', 'replace')
        _x11.XFree(ctypes.cast(text, ctypes.c_void_p))
        return value

    def viewable(self, window):
        attributes = XWindowAttributes()
        if not _x11.XGetWindowAttributes(self.display, window, ctypes.byref(attributes)):
            return False
        return attributes.map_state == IsViewable

    def geometry(self, window):
        """(x, y, width, height) in root coordinates."""
        attributes = XWindowAttributes()
        if not _x11.XGetWindowAttributes(self.display, window, ctypes.byref(attributes)):
            return None
        x, y, child = ctypes.c_int(), ctypes.c_int(), Window()
        _x11.XTranslateCoordinates(self.display, window, self.root, 0, 0, ctypes.byref(x),
                                   ctypes.byref(y), ctypes.byref(child))
        return x.value, y.value, attributes.width, attributes.height

    def mapped_windows(self, program):
        """Viewable top-level windows (or clients) whose WM_CLASS is program."""
        return [w for w in self._top_level_clients()
                if self.program(w).lower() == program.lower() and self.viewable(w)]

    def keys_down(self):
        """Keycodes that the X server holds down."""
        keys = (ctypes.c_char * 32)()
        _x11.XQueryKeymap(self.display, keys)
        return [i * 8 + bit for i, byte in enumerate(keys.raw) for bit in range(8)
                if byte & (1 << bit)]

    # ----- input

    def keycode(self, keysym_name):
        code = _x11.XKeysymToKeycode(self.display, _x11.XStringToKeysym(keysym_name.encode()))
        if not code:
            raise ValueError(f'no keycode for {keysym_name}')
        return code

    def key(self, combination):
        """Presses a combination such as 'ctrl+shift+F12' and releases it;
        returns the time at which the last key's press was flushed."""
        names = {'ctrl': 'Control_L', 'shift': 'Shift_L', 'alt': 'Alt_L'}
        codes = [self.keycode(names.get(part.lower(), part)) for part in combination.split('+')]
        for code in codes[:-1]:
            _xtst.XTestFakeKeyEvent(self.display, code, True, 0)
        _x11.XFlush(self.display)
        _xtst.XTestFakeKeyEvent(self.display, codes[-1], True, 0)
        _x11.XFlush(self.display)
        pressed = time.perf_counter()
        for code in reversed(codes):
            _xtst.XTestFakeKeyEvent(self.display, code, False, 0)
        _x11.XFlush(self.display)
        return pressed

    def move(self, x, y):
        _xtst.XTestFakeMotionEvent(self.display, -1, int(x), int(y), 0)
        _x11.XSync(self.display, False)

    def click(self, button=1):
        """A press and a release; returns the time they were flushed."""
        _xtst.XTestFakeButtonEvent(self.display, button, True, 0)
        _xtst.XTestFakeButtonEvent(self.display, button, False, 0)
        _x11.XFlush(self.display)
        return time.perf_counter()

    # ----- events

    def drain(self):
        """Reads and drops every event already received."""
        self.wait_for(lambda event: None, 0)

    def wait_for(self, match, timeout):
        """Reads events until match(event) returns a value, which is returned
        with the time the event was read: (value, time). (None, None) when
        the time limit passes first."""
        deadline = time.perf_counter() + timeout
        event = self._event
        while True:
            while _x11.XPending(self.display):
                _x11.XNextEvent(self.display, ctypes.byref(event))
                when = time.perf_counter()
                if event.type == CreateNotify and event.create.parent == self.root:
                    self._watch(event.create.window)
                elif event.type == ReparentNotify:
                    self._watch(event.map.window)
                value = match(event)
                if value is not None:
                    return value, when
            remaining = deadline - time.perf_counter()
            if remaining <= 0:
                return None, None
            select.select([self.fd], [], [], remaining)

    def wait_mapped(self, program=None, name=None, override_redirect=None, timeout=10.0):
        """Waits for a window of the given WM_CLASS name and/or title to be
        mapped; returns a Mapped, or None at the time limit."""
        def match(event):
            if event.type != MapNotify:
                return None
            window = event.map.window
            if override_redirect is not None and bool(event.map.override_redirect) != override_redirect:
                return None
            if program is not None and self.program(window).lower() != program.lower():
                return None
            title = self.name(window)
            if name is not None and title != name:
                return None
            return Mapped(window, program, title, 0, bool(event.map.override_redirect))
        found, when = self.wait_for(match, timeout)
        if found:
            found.time = when
        return found

    def wait_unmapped(self, window, timeout=10.0):
        """Waits until the window is unmapped or destroyed; returns the time."""
        if not self.viewable(window):
            return time.perf_counter()
        _, when = self.wait_for(
            lambda e: True if e.type in (UnmapNotify, DestroyNotify) and e.map.window == window
            else None, timeout)
        return when

    def wait_name(self, window, accept, timeout=10.0):
        """Waits for a change of the window's name that accept(name) takes;
        returns (name, time) or (None, None)."""
        def match(event):
            if (event.type == PropertyNotify and event.property.window == window and
                    event.property.atom in (self.wm_name, self.net_wm_name)):
                title = self.name(window)
                return title if accept(title) else None
            return None
        return self.wait_for(match, timeout)
