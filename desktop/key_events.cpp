#include "desktop/key_events.h"

#include "core/text_codes.h"
#include "core/utf8.h"

namespace {

void add_unicode_pair(Keystroke& keys, char16_t unit) {
    keys.push_back({0, unit, KEY_FLAG_UNICODE});
    keys.push_back({0, unit, KEY_FLAG_UNICODE | KEY_FLAG_KEYUP});
}

// Modifiers go down in this order and come up in the reverse one.
constexpr struct {
    uint8_t bit;
    uint16_t virtual_key;
} MODIFIER_KEYS[] = {{MODIFIER_SHIFT, VK_SHIFT_KEY},
                     {MODIFIER_CONTROL, VK_CONTROL_KEY},
                     {MODIFIER_ALT, VK_MENU_KEY}};
constexpr uint8_t KNOWN_MODIFIERS = MODIFIER_SHIFT | MODIFIER_CONTROL | MODIFIER_ALT;

// The layout's key for `unit` with its modifiers, or nothing when the layout cannot type it
// with one press (no key, a dead key, or a modifier such as Kana that cannot be pressed here).
bool add_layout_key(Keystroke& keys, char16_t unit, const KeyboardLayout& layout) {
    if (!layout.key_for) return false;
    std::optional<LayoutKey> key = layout.key_for(unit);
    if (!key || key->dead || (key->modifiers & ~KNOWN_MODIFIERS) != 0) return false;
    const auto scan_code = [&layout](uint16_t vk) -> uint16_t {
        return layout.scan_code_for ? layout.scan_code_for(vk) : 0;
    };
    for (const auto& modifier : MODIFIER_KEYS) {
        if (key->modifiers & modifier.bit) {
            keys.push_back({modifier.virtual_key, scan_code(modifier.virtual_key), 0});
        }
    }
    keys.push_back({key->virtual_key, key->scan_code, 0});
    keys.push_back({key->virtual_key, key->scan_code, KEY_FLAG_KEYUP});
    for (auto m = std::rbegin(MODIFIER_KEYS); m != std::rend(MODIFIER_KEYS); ++m) {
        if (key->modifiers & m->bit) {
            keys.push_back({m->virtual_key, scan_code(m->virtual_key), KEY_FLAG_KEYUP});
        }
    }
    return true;
}

void add_characters(std::vector<Keystroke>& strokes, std::string_view text,
                    const TypingOptions& options, const KeyboardLayout& layout) {
    std::u16string units = utf16_from_utf8(text);
    for (size_t i = 0; i < units.size(); ++i) {
        char16_t unit = units[i];
        if (unit == u'\r' || unit == u'\n') continue;  // a wedge never types line breaks
        Keystroke keys;
        const bool pair = is_high_surrogate(unit) && i + 1 < units.size();
        if (pair) {
            // No layout key types a character beyond the basic plane: both halves as Unicode.
            add_unicode_pair(keys, unit);
            add_unicode_pair(keys, units[++i]);
        } else if (options.mode == TypeMode::unicode || !add_layout_key(keys, unit, layout)) {
            add_unicode_pair(keys, unit);
        }
        strokes.push_back(std::move(keys));
    }
}

}  // namespace

std::vector<Keystroke> keystrokes_for_text(std::string_view text, bool with_suffix,
                                           const TypingOptions& options,
                                           const KeyboardLayout& layout) {
    std::vector<Keystroke> strokes;
    add_characters(strokes, options.prefix, options, layout);
    add_characters(strokes, text, options, layout);
    add_characters(strokes, options.postfix, options, layout);
    if (with_suffix) {
        const uint16_t vk = options.suffix_key == SuffixKey::tab ? VK_TAB_KEY : VK_RETURN_KEY;
        // Key codes carry the scan code too, for programs that read only that.
        const uint16_t scan =
            options.mode == TypeMode::keys && layout.scan_code_for ? layout.scan_code_for(vk) : 0;
        strokes.push_back({{vk, scan, 0}, {vk, scan, KEY_FLAG_KEYUP}});
    }
    return strokes;
}

std::vector<KeyEvent> key_events_for_text(std::string_view text, bool with_suffix,
                                          const TypingOptions& options,
                                          const KeyboardLayout& layout) {
    std::vector<KeyEvent> events;
    for (const Keystroke& keys : keystrokes_for_text(text, with_suffix, options, layout)) {
        events.insert(events.end(), keys.begin(), keys.end());
    }
    return events;
}
