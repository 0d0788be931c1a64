// XTEST keystrokes for the X11 desktop, found in the keymap the server has at that moment.

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include "desktop/x11/x11_parts.h"

namespace {

// The level a key of this type gives while `mods` are in effect.
int level_for(const XkbKeyTypeRec& type, unsigned mods) {
    const unsigned relevant = mods & type.mods.mask;
    for (int i = 0; i < type.map_count; ++i) {
        const XkbKTMapEntryRec& entry = type.map[i];
        if (entry.active && entry.mods.mask == relevant) return entry.level;
    }
    return 0;
}

struct Stroke {
    KeyCode code = 0;
    std::vector<KeyCode> modifiers;  // held down around the key
};

struct XkbFree {
    void operator()(XkbDescPtr xkb) const { XkbFreeKeyboard(xkb, 0, True); }
};

// The server's keymap and keyboard state, read afresh for every text so that a layout switched
// in the meantime is the one used.
class Keymap {
  public:
    static Result<Keymap> load(Display* display) {
        Keymap keymap;
        keymap.xkb_.reset(XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask,
                                    XkbUseCoreKbd));
        if (!keymap.xkb_) return Result<Keymap>::failure("Could not read the X keymap");
        XkbStateRec state{};
        if (XkbGetState(display, XkbUseCoreKbd, &state) != Success) {
            return Result<Keymap>::failure("Could not read the X keyboard state");
        }
        keymap.group_ = state.group;
        keymap.locked_ = state.locked_mods | state.latched_mods;
        keymap.find_modifier_keys();
        return keymap;
    }

    // The key and the shift-like modifiers that type `keysym` in the current group, preferring
    // the fewest modifiers; nullopt when no key does.
    std::optional<Stroke> find(KeySym keysym) const {
        std::optional<Stroke> best;
        for (int code = xkb_->min_key_code; code <= xkb_->max_key_code; ++code) {
            const int groups = XkbKeyNumGroups(xkb_.get(), code);
            if (groups == 0) continue;
            const int group = static_cast<int>(group_ % groups);
            const XkbKeyTypeRec& type = *XkbKeyKeyType(xkb_.get(), code, group);
            for (int level = 0; level < type.num_levels; ++level) {
                if (XkbKeySymEntry(xkb_.get(), code, level, group) != keysym) continue;
                std::optional<Stroke> stroke = stroke_for_level(code, type, level);
                if (stroke && (!best || stroke->modifiers.size() < best->modifiers.size())) {
                    best = stroke;
                }
            }
            if (best && best->modifiers.empty()) break;
        }
        return best;
    }

    // A key code that no layout level uses and no modifier sits on.
    bool is_spare(KeyCode code) const {
        return XkbKeyNumSyms(xkb_.get(), code) == 0 && xkb_->map->modmap[code] == 0;
    }
    // The first keysym of a key, as a binding of ours leaves it.
    KeySym first_keysym(KeyCode code) const {
        if (XkbKeyNumGroups(xkb_.get(), code) == 0) return NoSymbol;
        return XkbKeySymEntry(xkb_.get(), code, 0, 0);
    }
    int min_code() const { return xkb_->min_key_code; }
    int max_code() const { return xkb_->max_key_code; }

  private:
    std::optional<Stroke> stroke_for_level(int code, const XkbKeyTypeRec& type, int level) const {
        unsigned mods = 0;
        if (level > 0) {
            const XkbKTMapEntryRec* entry = nullptr;
            for (int i = 0; i < type.map_count && !entry; ++i) {
                if (type.map[i].active && type.map[i].level == level) entry = &type.map[i];
            }
            if (!entry) return std::nullopt;
            mods = entry->mods.mask;
        }
        // Locked modifiers (Caps Lock, Num Lock) take part too: the level must come out right
        // with them, or the key is not used.
        if (level_for(type, mods | locked_) != level) return std::nullopt;
        Stroke stroke{static_cast<KeyCode>(code), {}};
        for (unsigned bit = 0; bit < 8; ++bit) {
            if (!(mods & (1u << bit)) || (locked_ & (1u << bit))) continue;
            auto key = modifier_keys_.find(bit);
            if (key == modifier_keys_.end()) return std::nullopt;
            stroke.modifiers.push_back(key->second);
        }
        return stroke;
    }

    // Only modifiers that act while held (Shift, AltGr, Level 5) are pressed for a character.
    void find_modifier_keys() {
        const KeySym shift_like[] = {XK_Shift_L, XK_Shift_R, XK_ISO_Level3_Shift,
                                     XK_ISO_Level5_Shift};
        for (int code = xkb_->min_key_code; code <= xkb_->max_key_code; ++code) {
            const unsigned char mods = xkb_->map->modmap[code];
            if (!mods || XkbKeyNumGroups(xkb_.get(), code) == 0) continue;
            const KeySym keysym = XkbKeySymEntry(xkb_.get(), code, 0, 0);
            if (std::find(std::begin(shift_like), std::end(shift_like), keysym) ==
                std::end(shift_like)) {
                continue;
            }
            for (unsigned bit = 0; bit < 8; ++bit) {
                if (mods & (1u << bit)) modifier_keys_.emplace(bit, static_cast<KeyCode>(code));
            }
        }
    }

    std::unique_ptr<XkbDescRec, XkbFree> xkb_;
    unsigned group_ = 0;
    unsigned locked_ = 0;
    std::map<unsigned, KeyCode> modifier_keys_;  // modifier bit -> a key that sets it
};

void bind_key(Display* display, KeyCode code, KeySym keysym) {
    KeySym both_levels[] = {keysym, keysym};  // Shift or Caps Lock change nothing
    XChangeKeyboardMapping(display, code, 2, both_levels, 1);
}

void unbind_key(Display* display, KeyCode code) {
    KeySym nothing[] = {NoSymbol};
    XChangeKeyboardMapping(display, code, 1, nothing, 1);
}

}  // namespace

Status X11Keyboard::type(Display* display, const std::vector<uint32_t>& keysyms) {
    if (keysyms.empty()) return Status::success();

    Result<Keymap> loaded = Keymap::load(display);
    if (!loaded.ok()) return Status::failure(loaded.error());
    const Keymap& keymap = loaded.value();

    // Bindings of ours that someone else has changed since (a new layout) are no longer ours.
    std::erase_if(bound_, [&](const auto& binding) {
        return keymap.first_keysym(binding.first) != binding.second;
    });
    std::vector<KeyCode> spare;
    for (int code = keymap.min_code(); code <= keymap.max_code(); ++code) {
        if (keymap.is_spare(static_cast<KeyCode>(code))) spare.push_back(code);
    }

    // Every key is looked up before the first is sent: a text that cannot be typed for want of
    // spare key codes fails before any key of it is sent.
    std::map<KeySym, Stroke> found;
    std::set<KeySym> missing;
    for (uint32_t keysym : keysyms) {
        if (found.count(keysym) || missing.count(keysym)) continue;
        if (std::optional<Stroke> stroke = keymap.find(keysym)) {
            found.emplace(keysym, *stroke);
        } else {
            missing.insert(keysym);
        }
    }
    if (!missing.empty() && spare.empty() && bound_.empty()) {
        return Status::failure("No spare key code for a character");
    }

    // A spare code; bindings of ours are only rebound after being given back (see below).
    const auto free_code = [&]() -> std::optional<KeyCode> {
        if (spare.empty()) return std::nullopt;
        KeyCode code = spare.back();
        spare.pop_back();
        return code;
    };
    for (uint32_t keysym : keysyms) {
        auto known = found.find(keysym);
        if (known == found.end()) {
            std::optional<KeyCode> code = free_code();
            if (!code) {
                // More distinct characters than spare codes: let the receiving program look
                // up what was typed so far, give every binding back, and start on fresh codes.
                // (Rebinding a bound code straight to another keysym leaves programs using
                // Xlib with the old keysym.)
                XSync(display, False);
                std::this_thread::sleep_for(KEY_SETTLE_TIME);
                for (const auto& [bound_code, bound_keysym] : bound_) spare.push_back(bound_code);
                std::erase_if(found,
                              [&](const auto& entry) { return bound_.count(entry.second.code); });
                restore(display);
                code = free_code();
            }
            if (!code) return Status::failure("No spare key code for a character");
            bind_key(display, *code, keysym);
            bound_[*code] = keysym;
            known = found.emplace(keysym, Stroke{*code, {}}).first;
        }
        const Stroke& stroke = known->second;
        for (KeyCode modifier : stroke.modifiers) XTestFakeKeyEvent(display, modifier, True, 0);
        XTestFakeKeyEvent(display, stroke.code, True, 0);
        XTestFakeKeyEvent(display, stroke.code, False, 0);
        for (auto it = stroke.modifiers.rbegin(); it != stroke.modifiers.rend(); ++it) {
            XTestFakeKeyEvent(display, *it, False, 0);
        }
    }
    // The keys count as typed once the server has taken them all.
    x11_errors().take();
    XSync(display, False);
    if (int code = x11_errors().take()) {
        return Status::failure("The X server refused a key (error " + std::to_string(code) + ")");
    }
    return Status::success();
}

void X11Keyboard::restore(Display* display) {
    for (const auto& [code, keysym] : bound_) {
        // Only where our binding is still in place: a new layout may have given the key a use.
        int per_code = 0;
        KeySym* current = XGetKeyboardMapping(display, code, 1, &per_code);
        if (current && per_code > 0 && current[0] == keysym) unbind_key(display, code);
        if (current) XFree(current);
    }
    bound_.clear();
    XSync(display, False);
}
