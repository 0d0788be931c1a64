#include <memory>
#include <type_traits>

#include "net/endpoint.h"
#include "platform/win32/win32_handles.h"
#include "receiver/receiver_state.h"
#include "ui/qr_code.h"
#include "ui/qr_geometry.h"
#include "ui/win32/window_win32.h"

namespace {

using Brush = UniqueGdiObject<HBRUSH>;

Brush new_solid_brush(uint32_t colour) {
    return Brush(CreateSolidBrush(COLORREF(colour)));
}

class PaintSession {
  public:
    explicit PaintSession(HWND window) : window_(window) { dc_ = BeginPaint(window, &paint_); }
    ~PaintSession() { EndPaint(window_, &paint_); }
    PaintSession(const PaintSession&) = delete;
    PaintSession& operator=(const PaintSession&) = delete;
    HDC dc() const { return dc_; }

  private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

}  // namespace

// Encodes afresh on every paint, so the code always matches the current URL.
void paint_qr_panel(HWND window, ReceiverState& state) {
    PaintSession paint(window);  // declared first: ends after the brushes are deleted
    const std::string url = pairing_url(state);
    const Brush background = new_solid_brush(QR_BACKGROUND_COLOUR);
    const Brush module = new_solid_brush(QR_MODULE_COLOUR);
    const Brush frame = new_solid_brush(QR_FRAME_COLOUR);
    const int dpi = current_dpi();
    const RECT area = rect_from(qr_area_for_dpi(dpi));
    FillRect(paint.dc(), &area, background.get());
    FrameRect(paint.dc(), &area, frame.get());
    Result<QrGrid> code = encode_qr(url);
    if (!code.ok()) return;  // the empty framed square
    for (const PixelRect& dark : qr_dark_module_rects(code.value(), dpi)) {
        const RECT rect = rect_from(dark);
        FillRect(paint.dc(), &rect, module.get());
    }
}
