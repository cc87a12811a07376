#include "Platform/System/KeyboardLayout.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/System/X11Connection_p.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <xcb/xcb.h>
// xkb.h names a field "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <memory>
#include <mutex>

namespace kesto::sys {

namespace {

// Indexed by key code; -1 where no physical key has that code.
constexpr std::array<int, 128> kEvdevForKeyCode = [] {
  std::array<int, 128> t{};
  for (auto& v : t) v = -1;
  const int pairs[][2] = {
      {0, 30},  {1, 31},  {2, 32},  {3, 33},  {4, 35},  {5, 34},  {6, 44},  {7, 45},  {8, 46},  {9, 47},
      {10, 86}, {11, 48}, {12, 16}, {13, 17}, {14, 18}, {15, 19}, {16, 21}, {17, 20}, {18, 2},  {19, 3},
      {20, 4},  {21, 5},  {22, 7},  {23, 6},  {24, 13}, {25, 10}, {26, 8},  {27, 12}, {28, 9},  {29, 11},
      {30, 27}, {31, 24}, {32, 22}, {33, 26}, {34, 23}, {35, 25}, {36, 28}, {37, 38}, {38, 36}, {39, 40},
      {40, 37}, {41, 39}, {42, 43}, {43, 51}, {44, 53}, {45, 49}, {46, 50}, {47, 52}, {48, 15}, {49, 57},
      {50, 41}, {51, 14}, {53, 1},
      // keypad
      {65, 83}, {67, 55}, {69, 78}, {71, 69}, {75, 98}, {76, 96}, {78, 74}, {81, 117}, {82, 82}, {83, 79},
      {84, 80}, {85, 81}, {86, 75}, {87, 76}, {88, 77}, {89, 71}, {91, 72}, {92, 73},
      // function keys F1 to F19
      {122, 59}, {120, 60}, {99, 61}, {118, 62}, {96, 63}, {97, 64}, {98, 65}, {100, 66}, {101, 67},
      {109, 68}, {103, 87}, {111, 88}, {105, 183}, {107, 184}, {113, 185}, {106, 186}, {64, 187},
      {79, 188}, {80, 189},
      // navigation; Help stands where PC keyboards have Insert
      {114, 110}, {115, 102}, {116, 104}, {117, 111}, {119, 107}, {121, 109}, {123, 105}, {124, 106},
      {125, 108}, {126, 103}};
  for (const auto& p : pairs) t[std::size_t(p[0])] = p[1];
  return t;
}();

struct KeymapDeleter {
  void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};
struct ContextDeleter {
  void operator()(xkb_context* c) const { xkb_context_unref(c); }
};

// One cached keymap with the group that is active, rebuilt after a change.
struct Layout {
  std::unique_ptr<xkb_context, ContextDeleter> context;
  std::unique_ptr<xkb_keymap, KeymapDeleter> keymap;
  xkb_layout_index_t group = 0;
};

// The layout in use, read once and dropped on a change; a test may name one instead.
struct Layouts {
  std::mutex mutex;
  std::string testName;
  std::unique_ptr<Layout> cached;
};
Layouts& layouts() {
  static Layouts l;
  return l;
}

std::unique_ptr<Layout> layoutFromNames(const std::string& name) {
  auto layout = std::make_unique<Layout>();
  layout->context.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
  if (!layout->context) return nullptr;
  xkb_rule_names names{};
  names.layout = name.c_str();
  layout->keymap.reset(xkb_keymap_new_from_names(layout->context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
  return layout->keymap ? std::move(layout) : nullptr;
}

std::unique_ptr<Layout> layoutFromServer() {
  xcb_connection_t* c = detail::x11Connection();
  if (!c) return nullptr;
  if (!xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                   XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
    return nullptr;
  std::int32_t device = xkb_x11_get_core_keyboard_device_id(c);
  if (device < 0) return nullptr;
  auto layout = std::make_unique<Layout>();
  layout->context.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
  if (!layout->context) return nullptr;
  layout->keymap.reset(xkb_x11_keymap_new_from_device(layout->context.get(), c, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
  if (!layout->keymap) return nullptr;
  if (xkb_state* state = xkb_x11_state_new_from_device(layout->keymap.get(), c, device)) {
    layout->group = xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE);
    xkb_state_unref(state);
  }
  return layout;
}

Layout* currentLayout() {
  auto& cached = layouts().cached;
  if (!cached) {
    if (!layouts().testName.empty()) cached = layoutFromNames(layouts().testName);
    if (!cached) cached = layoutFromServer();
    if (!cached) cached = layoutFromNames("us");
  }
  return cached.get();
}

std::string characterIn(Layout* layout, int keyCode, bool shift, bool thirdLevel) {
  int evdev = evdevCodeForKeyCode(keyCode);
  if (!layout || evdev < 0) return {};
  xkb_state* state = xkb_state_new(layout->keymap.get());
  if (!state) return {};
  xkb_mod_mask_t mods = 0;
  auto add = [&](const char* name) {
    xkb_mod_index_t i = xkb_keymap_mod_get_index(layout->keymap.get(), name);
    if (i != XKB_MOD_INVALID) mods |= xkb_mod_mask_t(1) << i;
  };
  if (shift) add(XKB_MOD_NAME_SHIFT);
  if (thirdLevel) add("Mod5");  // where ISO_Level3_Shift (AltGr) lives in the usual keymaps
  // Keypad keys are named by their digits, as with Num Lock on.
  if ((evdev >= 71 && evdev <= 83) || evdev == 55 || evdev == 98 || evdev == 117) add("Mod2");
  xkb_state_update_mask(state, mods, 0, 0, 0, 0, layout->group);
  char buffer[16] = {};
  int n = xkb_state_key_get_utf8(state, xkb_keycode_t(evdev + 8), buffer, sizeof buffer);
  xkb_state_unref(state);
  if (n <= 0 || std::size_t(n) >= sizeof buffer) return {};
  std::string text(buffer, std::size_t(n));
  // Control characters (Escape, Tab, Return, Backspace) are no names.
  if (text.size() == 1 && (static_cast<unsigned char>(text[0]) < 0x20 || text[0] == 0x7f)) return {};
  return text;
}

// Watches the X server's keyboard events without taking them from the toolkit.
class LayoutWatcher : public QAbstractNativeEventFilter {
 public:
  explicit LayoutWatcher(std::uint8_t xkbFirstEvent) : xkbFirstEvent_(xkbFirstEvent) {}
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t") return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    std::uint8_t response = event->response_type & 0x7f;
    bool changed = response == XCB_MAPPING_NOTIFY;
    if (response == xkbFirstEvent_) {
      std::uint8_t xkbType = event->pad0;  // the XKB event's own type
      if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY) changed = true;
      if (xkbType == XCB_XKB_STATE_NOTIFY) {
        auto* state = reinterpret_cast<xcb_xkb_state_notify_event_t*>(event);
        changed = state->changed & XCB_XKB_STATE_PART_GROUP_STATE;
      }
    }
    // Several events come in a row: one rebuild after they are through.
    if (changed && !pending_) {
      pending_ = true;
      QTimer::singleShot(0, [this] {
        pending_ = false;
        KeyboardLayout::layoutDidChange();
      });
    }
    return false;
  }

 private:
  std::uint8_t xkbFirstEvent_;
  bool pending_ = false;
};

}  // namespace

int evdevCodeForKeyCode(int keyCode) {
  return keyCode >= 0 && keyCode < int(kEvdevForKeyCode.size()) ? kEvdevForKeyCode[std::size_t(keyCode)] : -1;
}

int keyCodeForEvdevCode(int evdevCode) {
  if (evdevCode < 0) return -1;
  for (std::size_t i = 0; i < kEvdevForKeyCode.size(); ++i)
    if (kEvdevForKeyCode[i] == evdevCode) return int(i);
  return -1;
}

std::string KeyboardLayout::characterForKeyCode(int keyCode, bool shift, bool thirdLevel) {
  // A layout read from the server is followed from its first use on.
  startWatching();
  std::lock_guard lock(layouts().mutex);
  return characterIn(currentLayout(), keyCode, shift, thirdLevel);
}

std::string KeyboardLayout::usCharacterForKeyCode(int keyCode) {
  std::lock_guard lock(layouts().mutex);
  static std::unique_ptr<Layout> us = layoutFromNames("us");
  return characterIn(us.get(), keyCode, false, false);
}

std::string KeyboardLayout::layoutName() {
  std::lock_guard lock(layouts().mutex);
  Layout* layout = currentLayout();
  if (!layout) return {};
  const char* name = xkb_keymap_layout_get_name(layout->keymap.get(), layout->group);
  return name ? name : "";
}

void KeyboardLayout::startWatching() {
  static bool started = false;
  xcb_connection_t* c = detail::x11Connection();
  if (started || !c || !QCoreApplication::instance() || QThread::currentThread() != QCoreApplication::instance()->thread())
    return;
  started = true;
  const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(c, &xcb_xkb_id);
  if (!xkb || !xkb->present) return;
  xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                              XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr);
  // Adds these events to what the toolkit already selected (only the named bits change).
  const std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY |
                               XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
  xcb_xkb_select_events(c, XCB_XKB_ID_USE_CORE_KBD, events, 0, events, 0xff, 0xff, nullptr);
  xcb_flush(c);
  static LayoutWatcher watcher(xkb->first_event);
  QCoreApplication::instance()->installNativeEventFilter(&watcher);
}

void KeyboardLayout::layoutDidChange() {
  {
    std::lock_guard lock(layouts().mutex);
    layouts().cached.reset();
  }
  fnd::NotificationCenter::defaultCenter().postNotificationName(KeyboardLayoutDidChangeNotification);
}

void KeyboardLayout::setLayoutForTesting(const std::string& layout) {
  {
    std::lock_guard lock(layouts().mutex);
    layouts().testName = layout;
  }
  layoutDidChange();
}

}  // namespace kesto::sys
