#include "Platform/System/GlobalShortcuts.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/Log.h"
#include "Platform/System/KeyboardLayout.h"
#include "Platform/System/X11Connection_p.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QTimer>

#include <xcb/xcb.h>
// xkb.h names a field "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <map>
#include <vector>

namespace kesto::sys {

namespace {

struct Grab {
  xcb_keycode_t keycode = 0;
  std::uint16_t modifiers = 0;
  std::function<void()> handler;
  bool down = false;
  GlobalShortcuts::Trigger trigger = GlobalShortcuts::Trigger::Press;
};

struct Registry {
  std::map<std::uint32_t, Grab> grabs;
  std::uint32_t next = 0;
  bool filterInstalled = false;
};

Registry& registry() {
  static Registry r;
  return r;
}

std::uint16_t xModifiers(std::uint32_t carbon) {
  std::uint16_t m = 0;
  if (carbon & 0x100) m |= XCB_MOD_MASK_CONTROL;
  if (carbon & 0x200) m |= XCB_MOD_MASK_SHIFT;
  if (carbon & 0x800) m |= XCB_MOD_MASK_1;
  if (carbon & 0x1000) m |= XCB_MOD_MASK_4;
  return m;
}

// The modifier bits the Num Lock and Scroll Lock keys set on this server (Mod2 and none on most).
std::vector<std::uint16_t> lockMasks(xcb_connection_t* c) {
  std::uint16_t num = 0, scroll = 0;
  const xcb_setup_t* setup = xcb_get_setup(c);
  auto mapping = xcb_get_keyboard_mapping_reply(
      c, xcb_get_keyboard_mapping(c, setup->min_keycode, std::uint8_t(setup->max_keycode - setup->min_keycode + 1)),
      nullptr);
  auto modmap = xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr);
  if (mapping && modmap) {
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping);
    int perKey = mapping->keysyms_per_keycode;
    int count = xcb_get_keyboard_mapping_keysyms_length(mapping);
    const xcb_keycode_t* keys = xcb_get_modifier_mapping_keycodes(modmap);
    int perMod = modmap->keycodes_per_modifier;
    for (int mod = 0; mod < 8; ++mod) {
      for (int k = 0; k < perMod; ++k) {
        xcb_keycode_t code = keys[mod * perMod + k];
        if (code < setup->min_keycode) continue;
        int base = (code - setup->min_keycode) * perKey;
        for (int s = 0; s < perKey && base + s < count; ++s) {
          if (syms[base + s] == 0xff7f) num = std::uint16_t(1u << mod);     // Num_Lock
          if (syms[base + s] == 0xff14) scroll = std::uint16_t(1u << mod);  // Scroll_Lock
        }
      }
    }
  }
  std::free(mapping);
  std::free(modmap);
  if (!num) num = XCB_MOD_MASK_2;
  std::vector<std::uint16_t> masks;
  for (std::uint16_t caps : {std::uint16_t(0), std::uint16_t(XCB_MOD_MASK_LOCK)})
    for (std::uint16_t n : {std::uint16_t(0), num})
      for (std::uint16_t s : {std::uint16_t(0), scroll}) {
        std::uint16_t m = caps | n | s;
        bool seen = false;
        for (auto x : masks) seen = seen || x == m;
        if (!seen) masks.push_back(m);
      }
  return masks;
}

std::uint16_t allLockBits(const std::vector<std::uint16_t>& masks) {
  std::uint16_t bits = 0;
  for (auto m : masks) bits |= m;
  return bits;
}

// Grabs every lock variant; on the first refusal takes back what it got and answers false.
bool grabAll(xcb_connection_t* c, xcb_keycode_t keycode, std::uint16_t modifiers) {
  xcb_window_t root = detail::x11RootWindow();
  auto masks = lockMasks(c);
  std::vector<xcb_void_cookie_t> cookies;
  for (auto lock : masks)
    // Every event of the grab comes to the root window, the release too, even when the window
    // the press opens has the focus by then.
    cookies.push_back(xcb_grab_key_checked(c, 0, root, std::uint16_t(modifiers | lock), keycode, XCB_GRAB_MODE_ASYNC,
                                           XCB_GRAB_MODE_ASYNC));
  bool ok = true;
  for (auto cookie : cookies) {
    if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
      ok = false;
      std::free(error);
    }
  }
  if (!ok)
    for (auto lock : masks) xcb_ungrab_key(c, keycode, root, std::uint16_t(modifiers | lock));
  xcb_flush(c);
  return ok;
}

void ungrabAll(xcb_connection_t* c, xcb_keycode_t keycode, std::uint16_t modifiers) {
  xcb_window_t root = detail::x11RootWindow();
  for (auto lock : lockMasks(c)) xcb_ungrab_key(c, keycode, root, std::uint16_t(modifiers | lock));
  xcb_flush(c);
}

// Runs a grab's handler after the X event is through: the handler may open windows or a modal
// alert.
void fire(std::uint32_t identifier) {
  QTimer::singleShot(0, [identifier] {
    auto it = registry().grabs.find(identifier);
    if (it != registry().grabs.end() && it->second.handler) it->second.handler();
  });
}

class HotKeyFilter : public QAbstractNativeEventFilter {
 public:
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t") return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    std::uint8_t response = event->response_type & 0x7f;
    if (response != XCB_KEY_PRESS && response != XCB_KEY_RELEASE) return false;
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
    if (key->event != detail::x11RootWindow()) return false;
    xcb_connection_t* c = detail::x11Connection();
    if (!c) return false;
    if (!lockBits_) lockBits_ = allLockBits(lockMasks(c));
    std::uint16_t state = key->state & ~lockBits_ & 0xff;
    for (auto& [id, grab] : registry().grabs) {
      if (grab.keycode != key->detail) continue;
      // The modifiers are often let go first: the key's release ends the press whatever they are.
      if (response == XCB_KEY_RELEASE) {
        if (grab.down && grab.trigger == GlobalShortcuts::Trigger::Release) fire(id);
        grab.down = false;
        continue;
      }
      if (grab.modifiers != state) continue;
      if (!grab.down) {
        grab.down = true;
        if (grab.trigger == GlobalShortcuts::Trigger::Press) fire(id);
      }
      // Not taken from the toolkit: it keeps the press's time as the latest user action, which
      // the window manager asks for before it lets the window that opens take the focus.
      return false;
    }
    return false;
  }

 private:
  std::uint16_t lockBits_ = 0;
};

void installFilter(xcb_connection_t* c) {
  auto& r = registry();
  if (r.filterInstalled || !QCoreApplication::instance()) return;
  r.filterInstalled = true;
  // A held key repeats as presses alone, never release-press pairs, so it fires once.
  const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(c, &xcb_xkb_id);
  if (xkb && xkb->present) {
    std::free(xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr));
    std::free(xcb_xkb_per_client_flags_reply(
        c,
        xcb_xkb_per_client_flags(c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                 XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
        nullptr));
  }
  static HotKeyFilter filter;
  QCoreApplication::instance()->installNativeEventFilter(&filter);
}

}  // namespace

bool GlobalShortcuts::isAvailable() { return detail::x11Connection() != nullptr; }

std::uint32_t GlobalShortcuts::grab(int keyCode, std::uint32_t carbonFlags, std::function<void()> handler,
                                    Trigger trigger) {
  KESTO_ASSERT_MAIN_THREAD();
  xcb_connection_t* c = detail::x11Connection();
  int evdev = evdevCodeForKeyCode(keyCode);
  if (!c || evdev < 0) return 0;
  auto keycode = xcb_keycode_t(evdev + 8);
  std::uint16_t modifiers = xModifiers(carbonFlags);
  if (!grabAll(c, keycode, modifiers)) {
    fnd::logWarning("The X server refused the global shortcut: another program holds it");
    return 0;
  }
  installFilter(c);
  auto& r = registry();
  std::uint32_t id = ++r.next;
  r.grabs[id] = Grab{keycode, modifiers, std::move(handler), false, trigger};
  return id;
}

void GlobalShortcuts::ungrab(std::uint32_t identifier) {
  KESTO_ASSERT_MAIN_THREAD();
  auto& r = registry();
  auto it = r.grabs.find(identifier);
  if (it == r.grabs.end()) return;
  Grab grab = std::move(it->second);
  r.grabs.erase(it);
  // Another registration of the same keys keeps the server's grab.
  for (const auto& [id, other] : r.grabs)
    if (other.keycode == grab.keycode && other.modifiers == grab.modifiers) return;
  if (xcb_connection_t* c = detail::x11Connection()) ungrabAll(c, grab.keycode, grab.modifiers);
}

bool GlobalShortcuts::isTakenElsewhere(int keyCode, std::uint32_t carbonFlags) {
  KESTO_ASSERT_MAIN_THREAD();
  xcb_connection_t* c = detail::x11Connection();
  int evdev = evdevCodeForKeyCode(keyCode);
  if (!c || evdev < 0) return false;
  auto keycode = xcb_keycode_t(evdev + 8);
  std::uint16_t modifiers = xModifiers(carbonFlags);
  for (const auto& [id, grab] : registry().grabs)
    if (grab.keycode == keycode && grab.modifiers == modifiers) return false;
  if (!grabAll(c, keycode, modifiers)) return true;
  ungrabAll(c, keycode, modifiers);
  return false;
}

}  // namespace kesto::sys
