#include "framework/gtk/client_area.h"

namespace {

struct FwClientArea {
    GtkFixed parent;
    int width;
    int height;
    bool resizable;
};

struct FwClientAreaClass {
    GtkFixedClass parentClass;
};

G_DEFINE_TYPE(FwClientArea, fw_client_area, GTK_TYPE_FIXED)

FwClientArea* area(GtkWidget* widget) {
    return G_TYPE_CHECK_INSTANCE_CAST(widget, fw_client_area_get_type(), FwClientArea);
}

void preferredWidth(GtkWidget* widget, gint* minimum, gint* natural) {
    const FwClientArea* a = area(widget);
    *minimum = a->resizable ? 1 : a->width;
    *natural = a->width;
}

void preferredHeight(GtkWidget* widget, gint* minimum, gint* natural) {
    const FwClientArea* a = area(widget);
    *minimum = a->resizable ? 1 : a->height;
    *natural = a->height;
}

void fw_client_area_class_init(FwClientAreaClass* klass) {
    GtkWidgetClass* widgetClass = GTK_WIDGET_CLASS(klass);
    widgetClass->get_preferred_width = preferredWidth;
    widgetClass->get_preferred_height = preferredHeight;
}

void fw_client_area_init(FwClientArea* self) {
    gtk_widget_set_has_window(GTK_WIDGET(self), TRUE);
    self->width = 1;
    self->height = 1;
    self->resizable = true;
}

} // namespace

namespace fw::gtk {

GtkWidget* clientAreaNew(int width, int height, bool resizable) {
    auto* widget = GTK_WIDGET(g_object_new(fw_client_area_get_type(), nullptr));
    FwClientArea* a = area(widget);
    a->width = width > 0 ? width : 1;
    a->height = height > 0 ? height : 1;
    a->resizable = resizable;
    return widget;
}

void clientAreaSetSize(GtkWidget* widget, int width, int height) {
    FwClientArea* a = area(widget);
    a->width = width > 0 ? width : 1;
    a->height = height > 0 ? height : 1;
    gtk_widget_queue_resize(widget);
}

} // namespace fw::gtk
