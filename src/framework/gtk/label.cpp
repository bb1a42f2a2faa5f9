// The plain label on GTK: a child widget of the form's client area
// (client_area.h) that draws its caption centred on one line with cairo
// (control_drawing.h).
#include "framework/gtk/client_area.h"
#include "framework/gtk/control_drawing.h"
#include "framework/gtk/text.h"

#include <memory>

namespace fw::gtk {

namespace {

class GtkLabelPeer : public LabelPeer {
public:
    GtkLabelPeer(GtkWindowPeer& parent, const Rect& rect, OleColor colour)
        : parent_(parent), colour_(colour) {
        // Presses on a label are the label's, not the window's surface's.
        widget_ = placeChild(parent, rect, GDK_BUTTON_PRESS_MASK);
        g_signal_connect(widget_, "draw", G_CALLBACK(onDraw), this);
        g_signal_connect(widget_, "button-press-event", G_CALLBACK(onPress), this);
    }
    ~GtkLabelPeer() override { dropChild(widget_, this); }
    GtkLabelPeer(const GtkLabelPeer&) = delete;
    GtkLabelPeer& operator=(const GtkLabelPeer&) = delete;

    std::string caption() const override { return caption_; }
    void setCaption(const std::string& text) override {
        caption_ = text;
        exposeAsLabel(widget_, utf8(text));
        gtk_widget_queue_draw(widget_);
    }

private:
    static gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
        auto* self = static_cast<GtkLabelPeer*>(data);
        GtkWidget* content = GTK_WIDGET(self->parent_.content());
        const Bounds rect{0, 0, gtk_widget_get_allocated_width(widget),
                          gtk_widget_get_allocated_height(widget)};
        drawLine(cr, widget, self->caption_, *toolkitFont(widget),
                 resolveColour(content, self->colour_), rect, kDtCenter | kDtTop);
        return FALSE;
    }

    static gboolean onPress(GtkWidget*, GdkEventButton*, gpointer) { return TRUE; }

    GtkWindowPeer& parent_;
    OleColor colour_;
    std::string caption_;
    GtkWidget* widget_ = nullptr;
};

} // namespace

std::unique_ptr<LabelPeer> GtkPlatform::createLabel(WindowPeer& parent, const Rect& rect,
                                                    OleColor colour) {
    return std::make_unique<GtkLabelPeer>(dynamic_cast<GtkWindowPeer&>(parent), rect, colour);
}

} // namespace fw::gtk
