#include "framework/gtk/client_area.h"

#include <gtk/gtk-a11y.h>

#include <algorithm>
#include <vector>

namespace {

G_DECLARE_FINAL_TYPE(FwClientArea, fw_client_area, FW, CLIENT_AREA, GtkFixed)

struct _FwClientArea {
    GtkFixed parent;
    int width;
    int height;
    bool resizable;
};

G_DEFINE_TYPE(FwClientArea, fw_client_area, GTK_TYPE_FIXED)

void preferredWidth(GtkWidget* widget, gint* minimum, gint* natural) {
    const FwClientArea* a = FW_CLIENT_AREA(widget);
    *minimum = a->resizable ? 1 : a->width;
    *natural = a->width;
}

void preferredHeight(GtkWidget* widget, gint* minimum, gint* natural) {
    const FwClientArea* a = FW_CLIENT_AREA(widget);
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

// --- the child widget -------------------------------------------------------
// A GtkWidget without a window of its own, with an input-only GdkWindow over
// its area for the pointer; its size is its size request.

G_DECLARE_FINAL_TYPE(FwChild, fw_child, FW, CHILD, GtkWidget)

struct _FwChild {
    GtkWidget parent;
    GdkWindow* input;
};

G_DEFINE_TYPE(FwChild, fw_child, GTK_TYPE_WIDGET)

void childRealize(GtkWidget* widget) {
    FwChild* c = FW_CHILD(widget);
    GtkAllocation a;
    gtk_widget_get_allocation(widget, &a);
    gtk_widget_set_realized(widget, TRUE);
    // Drawing goes to the parent's window (the client area's).
    GdkWindow* parentWindow = gtk_widget_get_parent_window(widget);
    gtk_widget_set_window(widget, parentWindow);
    g_object_ref(parentWindow);

    GdkWindowAttr attributes{};
    attributes.window_type = GDK_WINDOW_CHILD;
    attributes.x = a.x;
    attributes.y = a.y;
    attributes.width = a.width;
    attributes.height = a.height;
    attributes.wclass = GDK_INPUT_ONLY;
    attributes.event_mask = gtk_widget_get_events(widget);
    c->input = gdk_window_new(parentWindow, &attributes, GDK_WA_X | GDK_WA_Y);
    gtk_widget_register_window(widget, c->input);
}

void childUnrealize(GtkWidget* widget) {
    FwChild* c = FW_CHILD(widget);
    gtk_widget_unregister_window(widget, c->input);
    gdk_window_destroy(c->input);
    c->input = nullptr;
    GTK_WIDGET_CLASS(fw_child_parent_class)->unrealize(widget);
}

void childMap(GtkWidget* widget) {
    GTK_WIDGET_CLASS(fw_child_parent_class)->map(widget);
    gdk_window_show(FW_CHILD(widget)->input);
}

void childUnmap(GtkWidget* widget) {
    gdk_window_hide(FW_CHILD(widget)->input);
    GTK_WIDGET_CLASS(fw_child_parent_class)->unmap(widget);
}

void childAllocate(GtkWidget* widget, GtkAllocation* a) {
    gtk_widget_set_allocation(widget, a);
    if (gtk_widget_get_realized(widget))
        gdk_window_move_resize(FW_CHILD(widget)->input, a->x, a->y, a->width, a->height);
}

// --- what assistive technology sees of a child ---------------------------------
// The widget's accessible with one action when the child has a press
// (kPressKey); name and role are set on the accessible itself.

constexpr const char* kPressKey = "fw-press";

struct FwChildAccessible {
    GtkWidgetAccessible parent;
};
struct FwChildAccessibleClass {
    GtkWidgetAccessibleClass parent_class;
};

void fw_child_accessible_action_init(AtkActionIface* iface);

G_DEFINE_TYPE_WITH_CODE(FwChildAccessible, fw_child_accessible, GTK_TYPE_WIDGET_ACCESSIBLE,
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_ACTION, fw_child_accessible_action_init))

void fw_child_accessible_class_init(FwChildAccessibleClass*) {}
void fw_child_accessible_init(FwChildAccessible*) {}

std::function<void()>* pressOf(AtkAction* action) {
    GtkWidget* widget = gtk_accessible_get_widget(GTK_ACCESSIBLE(action));
    if (!widget) return nullptr;
    return static_cast<std::function<void()>*>(g_object_get_data(G_OBJECT(widget), kPressKey));
}

gint actionCount(AtkAction* action) {
    return pressOf(action) ? 1 : 0;
}

gboolean runPress(gpointer widget) {
    auto* press =
        static_cast<std::function<void()>*>(g_object_get_data(G_OBJECT(widget), kPressKey));
    if (press && gtk_widget_is_sensitive(GTK_WIDGET(widget))) (*press)();
    return G_SOURCE_REMOVE;
}

gboolean doAction(AtkAction* action, gint i) {
    GtkWidget* widget = gtk_accessible_get_widget(GTK_ACCESSIBLE(action));
    if (i != 0 || !widget || !pressOf(action) || !gtk_widget_is_sensitive(widget)) return FALSE;
    g_idle_add_full(G_PRIORITY_DEFAULT, runPress, g_object_ref(widget), g_object_unref);
    return TRUE;
}

const gchar* actionName(AtkAction* action, gint i) {
    return i == 0 && pressOf(action) ? "click" : nullptr;
}

void fw_child_accessible_action_init(AtkActionIface* iface) {
    iface->do_action = doAction;
    iface->get_n_actions = actionCount;
    iface->get_name = actionName;
}

void fw_child_class_init(FwChildClass* klass) {
    GtkWidgetClass* w = GTK_WIDGET_CLASS(klass);
    gtk_widget_class_set_accessible_type(w, fw_child_accessible_get_type());
    w->realize = childRealize;
    w->unrealize = childUnrealize;
    w->map = childMap;
    w->unmap = childUnmap;
    w->size_allocate = childAllocate;
}

void fw_child_init(FwChild* self) {
    gtk_widget_set_has_window(GTK_WIDGET(self), FALSE);
    self->input = nullptr;
}

// --- tab order --------------------------------------------------------------
// The order is worked out each time the focus moves into or through the
// client area, so children added later take their place too.

constexpr const char* kTabIndexKey = "fw-tab-index";

gboolean orderFocusChain(GtkWidget* content, GtkDirectionType, gpointer) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(content));
    std::vector<GtkWidget*> order;
    for (GList* l = children; l; l = l->next) order.push_back(GTK_WIDGET(l->data));
    g_list_free(children);
    auto rank = [](GtkWidget* w) {
        // Stored as index + 1, so that 0 means "none".
        const auto stored = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(w), kTabIndexKey));
        return stored > 0 ? stored - 1 : G_MAXINT;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](GtkWidget* a, GtkWidget* b) { return rank(a) < rank(b); });
    GList* chain = nullptr;
    for (auto it = order.rbegin(); it != order.rend(); ++it) chain = g_list_prepend(chain, *it);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_container_set_focus_chain(GTK_CONTAINER(content), chain);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_list_free(chain);
    return FALSE; // the container's own focus handling follows the chain
}

} // namespace

namespace fw::gtk {

GtkWidget* clientAreaNew(int width, int height, bool resizable) {
    auto* widget = GTK_WIDGET(g_object_new(fw_client_area_get_type(), nullptr));
    FwClientArea* a = FW_CLIENT_AREA(widget);
    a->width = width > 0 ? width : 1;
    a->height = height > 0 ? height : 1;
    a->resizable = resizable;
    return widget;
}

void clientAreaSetSize(GtkWidget* widget, int width, int height) {
    FwClientArea* a = FW_CLIENT_AREA(widget);
    a->width = width > 0 ? width : 1;
    a->height = height > 0 ? height : 1;
    gtk_widget_queue_resize(widget);
}

GtkWidget* placeChild(GtkWindowPeer& parent, const Rect& rect, gint events) {
    auto* widget = GTK_WIDGET(g_object_new(fw_child_get_type(), nullptr));
    gtk_widget_set_size_request(widget, std::max(rect.width, 0), std::max(rect.height, 0));
    gtk_widget_add_events(widget, events);
    g_object_ref_sink(widget);
    gtk_fixed_put(parent.content(), widget, rect.left, rect.top);
    gtk_widget_show(widget);
    return widget;
}

void dropChild(GtkWidget* widget, gpointer data) {
    g_signal_handlers_disconnect_by_data(widget, data);
    gtk_widget_destroy(widget);
    g_object_unref(widget);
}

GdkWindow* childInput(GtkWidget* widget) {
    return FW_CHILD(widget)->input;
}

void exposeAsButton(GtkWidget* widget, const std::string& name, std::function<void()> press) {
    g_object_set_data_full(G_OBJECT(widget), kPressKey, new std::function<void()>(std::move(press)),
                           [](gpointer p) { delete static_cast<std::function<void()>*>(p); });
    AtkObject* accessible = gtk_widget_get_accessible(widget);
    atk_object_set_role(accessible, ATK_ROLE_PUSH_BUTTON);
    atk_object_set_name(accessible, name.c_str());
}

void exposeAsLabel(GtkWidget* widget, const std::string& text) {
    AtkObject* accessible = gtk_widget_get_accessible(widget);
    atk_object_set_role(accessible, ATK_ROLE_LABEL);
    atk_object_set_name(accessible, text.c_str());
}

void joinTabOrder(GtkWindowPeer& parent, GtkWidget* widget, int tabIndex) {
    GtkWidget* content = GTK_WIDGET(parent.content());
    g_object_set_data(G_OBJECT(widget), kTabIndexKey, GINT_TO_POINTER(std::max(tabIndex, 0) + 1));
    if (!g_object_get_data(G_OBJECT(content), kTabIndexKey)) {
        g_object_set_data(G_OBJECT(content), kTabIndexKey, GINT_TO_POINTER(1));
        g_signal_connect(content, "focus", G_CALLBACK(orderFocusChain), nullptr);
    }
}

} // namespace fw::gtk
