#include "app/ClipboardHandover.h"

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QString>

#ifdef STELVIK_HAVE_XCB
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <poll.h>
#include <vector>
#include <xcb/xcb.h>
#endif

namespace Clipboard {

#ifdef STELVIK_HAVE_XCB
namespace {

using Clock = std::chrono::steady_clock;
// How long a manager may take to fetch the text: the toolkit waits as long at its own exit.
constexpr std::chrono::milliseconds kPatience(5000);

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

// The hand-over runs on a connection of its own: the window's connection belongs to the toolkit,
// whose event loop must not run any more (no handler may run while the process ends). This
// connection takes the clipboard over with the text, asks the manager to save it, and serves the
// manager's requests itself until the manager answers.
class Handover
{
public:
    Handover(xcb_connection_t *x, const QString &text)
        : m_x(x)
        , m_utf8(text.toUtf8())
        , m_latin1(text.toLatin1())
    {
        m_clipboard = atom("CLIPBOARD");
        m_manager = atom("CLIPBOARD_MANAGER");
        m_saveTargets = atom("SAVE_TARGETS");
        m_targets = atom("TARGETS");
        m_multiple = atom("MULTIPLE");
        m_timestamp = atom("TIMESTAMP");
        m_utf8String = atom("UTF8_STRING");
        m_text = atom("TEXT");
        m_plainUtf8 = atom("text/plain;charset=utf-8");
        m_plain = atom("text/plain");
        m_atomPair = atom("ATOM_PAIR");
        m_property = atom("_STELVIK_CLIPBOARD_SAVE");
        // A property holds at most one request's worth of data (header aside).
        m_maxBytes = qsizetype(xcb_get_maximum_request_length(m_x)) * 4 - 64;
    }

    void run()
    {
        Reply<xcb_get_selection_owner_reply_t> manager(
            xcb_get_selection_owner_reply(m_x, xcb_get_selection_owner(m_x, m_manager), nullptr),
            &std::free);
        if (!manager || manager->owner == XCB_WINDOW_NONE)
            return; // no manager: nothing to keep the text
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data;
        if (!screen)
            return;
        m_window = xcb_generate_id(m_x);
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(m_x, XCB_COPY_FROM_PARENT, m_window, screen->root, 0, 0, 1, 1, 0,
            XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
        // The server's time for taking the clipboard over: that of a change on our own window.
        xcb_change_property(
            m_x, XCB_PROP_MODE_APPEND, m_window, m_property, XCB_ATOM_STRING, 8, 0, nullptr);
        xcb_flush(m_x);
        const Clock::time_point deadline = Clock::now() + kPatience;
        if (!serveUntil(deadline, [this] { return m_time != XCB_CURRENT_TIME; }))
            return;

        xcb_set_selection_owner(m_x, m_window, m_clipboard, m_time);
        Reply<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(m_x, xcb_get_selection_owner(m_x, m_clipboard), nullptr),
            &std::free);
        if (!owner || owner->owner != m_window)
            return;
        // No list of targets on the property: the manager saves every target we offer.
        xcb_delete_property(m_x, m_window, m_property);
        xcb_convert_selection(m_x, m_window, m_manager, m_saveTargets, m_property, m_time);
        xcb_flush(m_x);
        serveUntil(deadline, [this] { return m_saved; });
    }

private:
    xcb_atom_t atom(const char *name)
    {
        Reply<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(
                m_x, xcb_intern_atom(m_x, 0, uint16_t(qstrlen(name)), name), nullptr),
            &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    // Handles events until done() holds; false when the deadline passed or the server went.
    template <typename Done>
    bool serveUntil(Clock::time_point deadline, Done done)
    {
        while (!done()) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(m_x)) {
                handle(event);
                std::free(event);
                if (done())
                    return true;
            }
            if (xcb_connection_has_error(m_x))
                return false;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            pollfd wait { xcb_get_file_descriptor(m_x), POLLIN, 0 };
            ::poll(&wait, 1, int(left.count()));
        }
        return true;
    }

    void handle(const xcb_generic_event_t *event)
    {
        switch (event->response_type & 0x7f) {
        case XCB_PROPERTY_NOTIFY: {
            const auto *e = reinterpret_cast<const xcb_property_notify_event_t *>(event);
            if (e->window == m_window && m_time == XCB_CURRENT_TIME)
                m_time = e->time;
            break;
        }
        case XCB_SELECTION_REQUEST:
            answer(reinterpret_cast<const xcb_selection_request_event_t *>(event));
            break;
        case XCB_SELECTION_NOTIFY: {
            // The manager's answer to the save: done, whether it saved or declined.
            const auto *e = reinterpret_cast<const xcb_selection_notify_event_t *>(event);
            if (e->requestor == m_window && e->selection == m_manager)
                m_saved = true;
            break;
        }
        default:
            break;
        }
    }

    void answer(const xcb_selection_request_event_t *request)
    {
        // Obsolete requestors name no property: the target's name serves.
        const xcb_atom_t property =
            request->property == XCB_ATOM_NONE ? request->target : request->property;
        bool ok = false;
        if (request->selection == m_clipboard) {
            ok = request->target == m_multiple
                ? convertMultiple(request->requestor, property)
                : convert(request->requestor, request->target, property);
        }
        xcb_selection_notify_event_t notify {};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request->time;
        notify.requestor = request->requestor;
        notify.selection = request->selection;
        notify.target = request->target;
        notify.property = ok ? property : xcb_atom_t(XCB_ATOM_NONE);
        xcb_send_event(m_x, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
            reinterpret_cast<const char *>(&notify));
        xcb_flush(m_x);
    }

    bool convert(xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property)
    {
        if (target == m_targets) {
            const xcb_atom_t offered[] = { m_targets, m_multiple, m_timestamp, m_utf8String,
                m_plainUtf8, m_text, XCB_ATOM_STRING, m_plain };
            xcb_change_property(m_x, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_ATOM, 32,
                uint32_t(std::size(offered)), offered);
            return true;
        }
        if (target == m_timestamp) {
            xcb_change_property(
                m_x, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_INTEGER, 32, 1, &m_time);
            return true;
        }
        const bool utf8 = target == m_utf8String || target == m_plainUtf8 || target == m_text;
        const bool latin1 = target == XCB_ATOM_STRING || target == m_plain;
        if (!utf8 && !latin1)
            return false;
        const QByteArray &bytes = utf8 ? m_utf8 : m_latin1;
        if (bytes.size() > m_maxBytes)
            return false; // larger than one request: declined rather than cut short
        const xcb_atom_t type = target == m_text ? m_utf8String : target;
        xcb_change_property(m_x, XCB_PROP_MODE_REPLACE, requestor, property, type, 8,
            uint32_t(bytes.size()), bytes.constData());
        return true;
    }

    // MULTIPLE: the property lists target and property pairs; a pair not converted gets None.
    bool convertMultiple(xcb_window_t requestor, xcb_atom_t property)
    {
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_x,
                                                  xcb_get_property(m_x, 0, requestor, property,
                                                      XCB_GET_PROPERTY_TYPE_ANY, 0, 0x10000),
                                                  nullptr),
            &std::free);
        if (!reply || reply->format != 32)
            return false;
        const auto *values = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply.get()));
        std::vector<xcb_atom_t> pairs(
            values, values + xcb_get_property_value_length(reply.get()) / 4);
        for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
            if (!convert(requestor, pairs[i], pairs[i + 1]))
                pairs[i + 1] = XCB_ATOM_NONE;
        }
        xcb_change_property(m_x, XCB_PROP_MODE_REPLACE, requestor, property, m_atomPair, 32,
            uint32_t(pairs.size()), pairs.data());
        return true;
    }

    xcb_connection_t *m_x; // not owned
    QByteArray m_utf8;
    QByteArray m_latin1;
    qsizetype m_maxBytes = 0;
    xcb_window_t m_window = XCB_WINDOW_NONE;
    xcb_timestamp_t m_time = XCB_CURRENT_TIME;
    bool m_saved = false;
    xcb_atom_t m_clipboard, m_manager, m_saveTargets, m_targets, m_multiple, m_timestamp,
        m_utf8String, m_text, m_plainUtf8, m_plain, m_atomPair, m_property;
};

} // namespace
#endif

void handOver()
{
#ifdef STELVIK_HAVE_XCB
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    const QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard->ownsClipboard())
        return;
    const QString text = clipboard->text();
    if (text.isEmpty())
        return;
    // The display the window is on; this program takes no command line to name another.
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> x(
        xcb_connect(nullptr, nullptr), &xcb_disconnect);
    if (!x || xcb_connection_has_error(x.get()))
        return;
    Handover(x.get(), text).run();
#endif
}

} // namespace Clipboard
