// The imaging port on Windows: GDI+'s flat API decodes the picture and draws
// it with its alpha into a 32-bit DIB section; UpdateLayeredWindow makes that
// surface the window's face; SetLayeredWindowAttributes keys one colour out.
#include "framework/ports/imaging.h"
#include "framework/win32/platform.h"

#include <objidl.h>
// After objidl.h: the GDI+ headers need IStream.
#include <gdiplus.h>

#include <cstring>

namespace fw::win32 {

namespace {

namespace gp = Gdiplus::DllExports;

UINT32 startupVersion = 1;

// The stream reads a copy of the bytes in global memory: CreateStreamOnHGlobal
// takes a global memory handle, which a vector's storage is not. The stream
// does not own that memory (fDeleteOnRelease FALSE); the image does, and
// frees it only after GDI+ has let go of the picture.
class GdiPlusImage final : public DecodedImage {
public:
    GdiPlusImage(Gdiplus::GpImage* image, HGLOBAL memory) : image_(image), memory_(memory) {}
    ~GdiPlusImage() override {
        gp::GdipDisposeImage(image_);
        GlobalFree(memory_);
    }
    GdiPlusImage(const GdiPlusImage&) = delete;
    GdiPlusImage& operator=(const GdiPlusImage&) = delete;

    int width() const {
        UINT w = 0;
        gp::GdipGetImageWidth(image_, &w);
        return static_cast<int>(w);
    }
    int height() const {
        UINT h = 0;
        gp::GdipGetImageHeight(image_, &h);
        return static_cast<int>(h);
    }
    Gdiplus::GpImage* handle() const { return image_; }

private:
    Gdiplus::GpImage* image_;
    HGLOBAL memory_;
};

// A memory device context with a 32-bit bottom-up DIB section selected into
// it; both are deleted with the surface (the context first).
class DibSurface final : public MemorySurface {
public:
    DibSurface(HDC dc, HBITMAP bitmap) : dc_(dc), bitmap_(bitmap) {}
    ~DibSurface() override {
        DeleteDC(dc_);
        DeleteObject(bitmap_);
    }
    DibSurface(const DibSurface&) = delete;
    DibSurface& operator=(const DibSurface&) = delete;

    HDC dc() const { return dc_; }

private:
    HDC dc_;
    HBITMAP bitmap_;
};

class GdiPlusImaging final : public Imaging {
public:
    int startup(std::uintptr_t& token) override {
        Gdiplus::GdiplusStartupInput input;
        input.GdiplusVersion = startupVersion;
        input.DebugEventCallback = nullptr;
        input.SuppressBackgroundThread = FALSE;
        input.SuppressExternalCodecs = FALSE;
        ULONG_PTR t = 0;
        const Gdiplus::Status status = Gdiplus::GdiplusStartup(&t, &input, nullptr);
        token = t;
        return static_cast<int>(status);
    }

    void shutdown(std::uintptr_t token) override { Gdiplus::GdiplusShutdown(token); }

    std::unique_ptr<DecodedImage> loadImage(const std::vector<std::uint8_t>& bytes) override {
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
        if (!memory) return nullptr;
        if (void* p = GlobalLock(memory)) {
            std::memcpy(p, bytes.data(), bytes.size());
            GlobalUnlock(memory);
        }
        IStream* stream = nullptr;
        if (FAILED(CreateStreamOnHGlobal(memory, FALSE, &stream)) || !stream) {
            GlobalFree(memory);
            return nullptr;
        }
        Gdiplus::GpImage* image = nullptr;
        gp::GdipLoadImageFromStream(stream, &image);
        // The image holds its own reference to the stream.
        stream->Release();
        if (!image) {
            GlobalFree(memory);
            return nullptr;
        }
        return std::make_unique<GdiPlusImage>(image, memory);
    }

    std::unique_ptr<MemorySurface> createSurface(WindowPeer& window, int width,
                                                 int height) override {
        HWND hwnd = windowHandle(window);
        HDC windowDc = GetDC(hwnd);
        HDC dc = CreateCompatibleDC(windowDc);
        ReleaseDC(hwnd, windowDc);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        // Positive: rows bottom-up.
        info.bmiHeader.biHeight = height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        info.bmiHeader.biSizeImage =
            static_cast<DWORD>(4u * static_cast<DWORD>(width) * static_cast<DWORD>(height));
        HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, nullptr, nullptr, 0);
        SelectObject(dc, bitmap);
        return std::make_unique<DibSurface>(dc, bitmap);
    }

    void drawImage(MemorySurface& target, DecodedImage& image, int width, int height) override {
        auto& picture = static_cast<GdiPlusImage&>(image);
        Gdiplus::GpGraphics* graphics = nullptr;
        gp::GdipCreateFromHDC(static_cast<DibSurface&>(target).dc(), &graphics);
        gp::GdipDrawImageRectRectI(graphics, picture.handle(), 0, 0, width, height, 0, 0,
                                   picture.width(), picture.height(), Gdiplus::UnitPixel, nullptr,
                                   nullptr, nullptr);
        gp::GdipDeleteGraphics(graphics);
    }

    void setLayeredStyle(WindowPeer& window) override {
        HWND hwnd = windowHandle(window);
        const LONG style = GetWindowLongW(hwnd, GWL_EXSTYLE);
        SetWindowLongW(hwnd, GWL_EXSTYLE, style | WS_EX_LAYERED);
    }

    void updateLayered(WindowPeer& window, MemorySurface& surface, Size size) override {
        HWND hwnd = windowHandle(window);
        HDC windowDc = GetDC(hwnd);
        SIZE extent{size.width, size.height};
        POINT source{0, 0};
        BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        UpdateLayeredWindow(hwnd, windowDc, nullptr, &extent,
                            static_cast<DibSurface&>(surface).dc(), &source, 0, &blend, ULW_ALPHA);
        ReleaseDC(hwnd, windowDc);
    }

    void setColorKey(WindowPeer& window, OleColor key, std::uint8_t alpha, int flags) override {
        SetLayeredWindowAttributes(windowHandle(window), colorRef(key), alpha,
                                   static_cast<DWORD>(flags));
    }
    // Nothing of a face stays here: the surface of a layered update goes
    // after the call, and the system's copy goes with the window.
    void releaseFace(WindowPeer&) override {}
};

} // namespace

void setGdiPlusVersionForTests(std::uint32_t version) {
    startupVersion = version;
}

Imaging& Win32Platform::imaging() {
    static GdiPlusImaging imaging;
    return imaging;
}

} // namespace fw::win32
