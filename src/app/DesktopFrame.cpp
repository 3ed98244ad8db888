#include "app/DesktopFrame.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

namespace zelvox {

namespace {

// How long a window manager may take to announce the frame before the nominal one is used.
constexpr int kFrameAnswerMs = 300;

#if QT_CONFIG(xcb)

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A property of 32-bit items, empty when the window does not have it.
std::vector<uint32_t> Property32(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property,
                                 xcb_atom_t type) {
    std::unique_ptr<xcb_get_property_reply_t, FreeReply> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 1024), nullptr));
    if (!reply || reply->format != 32 || reply->type != type)
        return {};
    const auto* items = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    const int n = xcb_get_property_value_length(reply.get()) / 4;
    return std::vector<uint32_t>(items, items + n);
}

// A window manager that follows the desktop conventions is running and can estimate frames.
bool ManagerEstimatesFrames(xcb_connection_t* c, xcb_window_t root, xcb_atom_t request) {
    const xcb_atom_t check = Atom(c, "_NET_SUPPORTING_WM_CHECK");
    const std::vector<uint32_t> owner = Property32(c, root, check, XCB_ATOM_WINDOW);
    // The check window names itself while its manager lives; a stale one from a manager that
    // has gone does not.
    if (owner.size() != 1 || Property32(c, owner[0], check, XCB_ATOM_WINDOW) != owner)
        return false;
    const std::vector<uint32_t> supported = Property32(c, root, Atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM);
    return std::find(supported.begin(), supported.end(), request) != supported.end();
}

std::optional<QMargins> X11FrameExtents(QWidget* window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return std::nullopt;
    xcb_connection_t* c = x11->connection();
    const auto id = static_cast<xcb_window_t>(window->winId());
    std::unique_ptr<xcb_query_tree_reply_t, FreeReply> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, id), nullptr));
    if (!tree)
        return std::nullopt;
    const xcb_window_t root = tree->root;
    const xcb_atom_t request = Atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    if (request == XCB_ATOM_NONE || !ManagerEstimatesFrames(c, root, request))
        return std::nullopt;

    const xcb_atom_t extents = Atom(c, "_NET_FRAME_EXTENTS");
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = request;
    const auto ask = [&] {
        xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(c);
    };

    // The manager answers by setting the property on the window, usually within a few
    // milliseconds. The question is asked again now and then, in case a manager that was still
    // starting missed it; the wait is bounded.
    const QDeadlineTimer deadline(kFrameAnswerMs);
    for (int round = 0; !deadline.hasExpired(); ++round) {
        if (round % 25 == 0)
            ask();
        const std::vector<uint32_t> e = Property32(c, id, extents, XCB_ATOM_CARDINAL);
        if (e.size() == 4) { // left, right, top, bottom, in device pixels
            const qreal ratio = window->devicePixelRatioF();
            const auto px = [ratio](uint32_t v) { return qRound(v / ratio); };
            return QMargins(px(e[0]), px(e[2]), px(e[1]), px(e[3]));
        }
        QThread::msleep(2);
    }
    return std::nullopt;
}

#endif

} // namespace

int CaptionHeight(const QMargins& extents) {
    return std::max(0, extents.top() - extents.left());
}

WindowFrame DesktopFrame(QWidget* window) {
    const QString platform = QGuiApplication::platformName();
    std::optional<QMargins> extents;
#if QT_CONFIG(xcb)
    if (platform == QLatin1String("xcb"))
        extents = X11FrameExtents(window);
#endif
    if (platform.startsWith(QLatin1String("wayland"))) {
        window->winId();
        if (const QWindow* handle = window->windowHandle(); handle && !handle->frameMargins().isNull())
            extents = handle->frameMargins();
    }
    if (!extents || extents->isNull())
        return kNominalFrame;
    return WindowFrame{*extents, CaptionHeight(*extents)};
}

} // namespace zelvox
