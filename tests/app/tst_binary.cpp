#include "settings/UserSettings.h"
#include "support/SilentServer.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <unistd.h>
#include <xcb/xcb.h>

// The real program, started as a user starts it (a private X display, a fresh HOME), shows its
// window with the title and ends with exit code 0 when the window is closed the way a window
// manager closes it.
class tst_Binary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void startsShowsTitleAndExitsWithZeroOnClose();
    void closingWhileAStatementRunsExitsWithZero();
    void copiedTextOutlivesTheProgram();
    void closingWhileConnectingExitsWithZero();

private:
    // Starts the real program as a user does and waits for its main window.
    void startProgram(QProcess &program, const QTemporaryDir &home, xcb_window_t &window);
    // The program ends, at once or within the time, with exit code 0.
    void expectExitZero(QProcess &program, int timeoutMs);
    void closeWindow(xcb_window_t window);
    void xdotool(const QStringList &arguments);
    xcb_atom_t atom(const char *name);
    QString windowName(xcb_window_t window);
    xcb_window_t findWindow(const QString &title);
    xcb_window_t focusWindow();
    // Types the alias and the statement, presses Run Query and OKs the login dialog once it
    // holds the keyboard focus; returns when the dialog is gone.
    void runWithLogin(const QString &window, const char *alias, const char *sql);
    xcb_window_t selectionOwner(const char *selection);
    bool nextEvent(uint8_t type);

    std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> m_event { nullptr, &std::free };

    QProcess m_xserver;
    QString m_display;
    xcb_connection_t *m_x = nullptr;
};

void tst_Binary::initTestCase()
{
    // Xvfb picks a free display number and writes it to the given descriptor.
    m_xserver.start(QStringLiteral("Xvfb"),
        { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
            QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
            QStringLiteral("tcp") });
    QVERIFY2(m_xserver.waitForStarted(), "Xvfb (package xvfb) is needed");
    QTRY_VERIFY_WITH_TIMEOUT(
        m_xserver.canReadLine() || m_xserver.state() == QProcess::NotRunning, 20000);
    const QByteArray number = m_xserver.readLine().trimmed();
    QVERIFY2(!number.isEmpty(), m_xserver.readAllStandardError().constData());
    m_display = QStringLiteral(":") + QString::fromLatin1(number);
    m_x = xcb_connect(m_display.toLatin1().constData(), nullptr);
    QVERIFY(m_x && !xcb_connection_has_error(m_x));
}

void tst_Binary::cleanupTestCase()
{
    if (m_x)
        xcb_disconnect(m_x);
    m_xserver.terminate();
    m_xserver.waitForFinished();
}

xcb_atom_t tst_Binary::atom(const char *name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(m_x, 0, uint16_t(qstrlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(m_x, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QString tst_Binary::windowName(xcb_window_t window)
{
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(m_x, 0, window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 0, 1024);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(m_x, cookie, nullptr), &std::free);
    if (!reply)
        return QString();
    return QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(reply.get())),
        xcb_get_property_value_length(reply.get()));
}

// A mapped top-level window with that title, or XCB_WINDOW_NONE.
xcb_window_t tst_Binary::findWindow(const QString &title)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data->root;
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(m_x, xcb_query_tree(m_x, root), nullptr), &std::free);
    if (!tree)
        return XCB_WINDOW_NONE;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
            xcb_get_window_attributes_reply(
                m_x, xcb_get_window_attributes(m_x, children[i]), nullptr),
            &std::free);
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE
            && windowName(children[i]) == title)
            return children[i];
    }
    return XCB_WINDOW_NONE;
}

// The window that holds the keyboard focus: keys typed now go there. The program gives the focus
// to a dialog it activates, some time after the dialog appears.
xcb_window_t tst_Binary::focusWindow()
{
    std::unique_ptr<xcb_get_input_focus_reply_t, decltype(&std::free)> reply(
        xcb_get_input_focus_reply(m_x, xcb_get_input_focus(m_x), nullptr), &std::free);
    return reply ? reply->focus : xcb_window_t(XCB_WINDOW_NONE);
}

void tst_Binary::runWithLogin(const QString &window, const char *alias, const char *sql)
{
    // Alias box, then the editor, then Run Query (positions of the toolbar's controls).
    xdotool({ "mousemove", "--window", window, "150", "17", "click", "1" });
    xdotool({ "type", "--delay", "5", QString::fromLatin1(alias) });
    xdotool({ "mousemove", "--window", window, "300", "200", "click", "1" });
    xdotool({ "type", "--delay", "5", QString::fromLatin1(sql) });
    xdotool({ "mousemove", "--window", window, "252", "16", "click", "1" });
    xcb_window_t login = XCB_WINDOW_NONE;
    QTRY_VERIFY_WITH_TIMEOUT(
        (login = findWindow(QStringLiteral("Mainframe Login"))) != XCB_WINDOW_NONE, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(focusWindow() == login, 30000);
    xdotool({ "key", "Return" });
    QTRY_VERIFY_WITH_TIMEOUT(
        findWindow(QStringLiteral("Mainframe Login")) == XCB_WINDOW_NONE, 30000);
}

xcb_window_t tst_Binary::selectionOwner(const char *selection)
{
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(m_x, xcb_get_selection_owner(m_x, atom(selection)), nullptr),
        &std::free);
    return reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
}

// Takes the events that have arrived; true once one of that type is in m_event (and stays so,
// as the check may be repeated, until m_event is reset).
bool tst_Binary::nextEvent(uint8_t type)
{
    if (m_event && (m_event->response_type & 0x7f) == type)
        return true;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_x)) {
        if ((event->response_type & 0x7f) == type) {
            m_event.reset(event);
            return true;
        }
        std::free(event);
    }
    return false;
}

void tst_Binary::startProgram(QProcess &program, const QTemporaryDir &home, xcb_window_t &window)
{
    const QString binary = qEnvironmentVariable("STELVIK_BINARY_DIR") + "/src/app/stelvik";
    QVERIFY2(QFile::exists(binary), qPrintable(binary));
    // A user's environment: own HOME, the desktop's display. The driver manager finds the user's
    // data sources through the password database, not HOME, so ODBCINI names the file in HOME;
    // the system's data sources stay the test's private ones.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name :
        { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "QT_QPA_PLATFORM" })
        environment.remove(QLatin1String(name));
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("ODBCINI"), home.filePath(QStringLiteral(".odbc.ini")));
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(binary, {});
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(
        (window = findWindow(QStringLiteral("Morvane version .99M"))) != XCB_WINDOW_NONE, 30000);
}

void tst_Binary::expectExitZero(QProcess &program, int timeoutMs)
{
    QVERIFY(program.waitForFinished(timeoutMs));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

// What a window manager sends when the user closes the window.
void tst_Binary::closeWindow(xcb_window_t window)
{
    xcb_client_message_event_t close {};
    close.response_type = XCB_CLIENT_MESSAGE;
    close.format = 32;
    close.window = window;
    close.type = atom("WM_PROTOCOLS");
    close.data.data32[0] = atom("WM_DELETE_WINDOW");
    close.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_x, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&close));
    xcb_flush(m_x);
}

// Processor time (user and system) that a process has used so far, from /proc.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) / sysconf(_SC_CLK_TCK);
}

// Mouse and keyboard input as a user gives it (through the XTEST extension).
void tst_Binary::xdotool(const QStringList &arguments)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("xdotool"), arguments);
    QVERIFY2(tool.waitForStarted(), "xdotool (package xdotool) is needed");
    QVERIFY(tool.waitForFinished(10000));
    QCOMPARE(tool.exitCode(), 0);
}

void tst_Binary::startsShowsTitleAndExitsWithZeroOnClose()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcess program;
    xcb_window_t window = XCB_WINDOW_NONE;
    startProgram(program, home, window);
    if (QTest::currentTestFailed())
        return;
    // The aliases were provisioned into the user's own data sources.
    QFile userSources(home.filePath(QStringLiteral(".odbc.ini")));
    QVERIFY(userSources.open(QIODevice::ReadOnly));
    QVERIFY(userSources.readAll().contains("[db2p201]"));

    closeWindow(window);
    expectExitZero(program, 30000);
}

void tst_Binary::closingWhileAStatementRunsExitsWithZero()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    // The user's own data source: an SQLite database that the statement below keeps busy for
    // far longer than this test waits.
    QFile sources(home.filePath(QStringLiteral(".odbc.ini")));
    QVERIFY(sources.open(QIODevice::WriteOnly));
    sources.write("[SLOWDB]\nDriver=SQLite3\nDatabase=" + home.filePath("slow.db").toUtf8()
        + "\nStepAPI=1\n");
    sources.close();

    QProcess program;
    xcb_window_t window = XCB_WINDOW_NONE;
    startProgram(program, home, window);
    if (QTest::currentTestFailed())
        return;
    const QString id = QString::number(window);

    // Once the login dialog is gone the statement has been handed to its worker.
    runWithLogin(id, "SLOWDB",
        "with recursive c(n) as (select 1 union all select n + 1 from c "
        "where n < 2000000000) select count(*) from c");
    if (QTest::currentTestFailed())
        return;
    // The statement is running: the program keeps a core busy while its window waits.
    QTRY_VERIFY_WITH_TIMEOUT(cpuSeconds(program.processId()) > 1.0, 30000);
    QCOMPARE(program.state(), QProcess::Running);

    closeWindow(window);
    // The statement would run for minutes: the process ends at once all the same.
    expectExitZero(program, 15000);
}

void tst_Binary::copiedTextOutlivesTheProgram()
{
    // The desktop's clipboard manager: a window of this test owns CLIPBOARD_MANAGER and does a
    // manager's part of the protocol below.
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data->root;
    const xcb_window_t manager = xcb_generate_id(m_x);
    xcb_create_window(m_x, XCB_COPY_FROM_PARENT, manager, root, 0, 0, 1, 1, 0,
        XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(m_x, manager, atom("CLIPBOARD_MANAGER"), XCB_CURRENT_TIME);
    QCOMPARE(selectionOwner("CLIPBOARD_MANAGER"), manager);
    struct DestroyWindow
    {
        xcb_connection_t *x;
        xcb_window_t window;
        ~DestroyWindow()
        {
            xcb_destroy_window(x, window);
            xcb_flush(x);
        }
    } destroyManager { m_x, manager };

    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcess program;
    xcb_window_t window = XCB_WINDOW_NONE;
    startProgram(program, home, window);
    if (QTest::currentTestFailed())
        return;
    const QString id = QString::number(window);

    // A statement typed into the editor, selected and copied, then the window closed at once.
    const QByteArray copied = "select 'kept' from t";
    xdotool({ "mousemove", "--window", id, "300", "200", "click", "1" });
    xdotool({ "type", "--delay", "5", QString::fromUtf8(copied) });
    xdotool({ "key", "ctrl+a", "ctrl+c" });
    QTRY_VERIFY_WITH_TIMEOUT(selectionOwner("CLIPBOARD") != XCB_WINDOW_NONE, 30000);
    closeWindow(window);

    // The program asks the manager to save the clipboard.
    m_event.reset();
    QTRY_VERIFY_WITH_TIMEOUT(nextEvent(XCB_SELECTION_REQUEST), 30000);
    const xcb_selection_request_event_t request =
        *reinterpret_cast<const xcb_selection_request_event_t *>(m_event.get());
    QCOMPARE(request.selection, atom("CLIPBOARD_MANAGER"));
    QCOMPARE(request.target, atom("SAVE_TARGETS"));

    // The manager fetches the text from the clipboard's owner, still the program's.
    xcb_convert_selection(
        m_x, manager, atom("CLIPBOARD"), atom("UTF8_STRING"), atom("SAVED"), XCB_CURRENT_TIME);
    xcb_flush(m_x);
    m_event.reset();
    QTRY_VERIFY_WITH_TIMEOUT(nextEvent(XCB_SELECTION_NOTIFY), 30000);
    const auto *fetched = reinterpret_cast<const xcb_selection_notify_event_t *>(m_event.get());
    QCOMPARE(fetched->property, atom("SAVED"));
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> text(
        xcb_get_property_reply(m_x,
            xcb_get_property(m_x, 1, manager, atom("SAVED"), XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20),
            nullptr),
        &std::free);
    QVERIFY(text);
    const QByteArray saved(static_cast<const char *>(xcb_get_property_value(text.get())),
        xcb_get_property_value_length(text.get()));

    // Saved: the manager says so, and the program ends as it always does.
    xcb_selection_notify_event_t done {};
    done.response_type = XCB_SELECTION_NOTIFY;
    done.time = request.time;
    done.requestor = request.requestor;
    done.selection = request.selection;
    done.target = request.target;
    done.property = request.property;
    xcb_send_event(
        m_x, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&done));
    xcb_flush(m_x);
    expectExitZero(program, 30000);
    if (QTest::currentTestFailed())
        return;
    // The text outlives the program that copied it.
    QCOMPARE(saved, copied);
}

void tst_Binary::closingWhileConnectingExitsWithZero()
{
    // A server that accepts the connection and never answers; no login timeout, so only the
    // close can end the wait.
    SilentServer silent;
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QFile sources(home.filePath(QStringLiteral(".odbc.ini")));
    QVERIFY(sources.open(QIODevice::WriteOnly));
    sources.write("[SILENT]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort="
        + QByteArray::number(silent.port()) + "\nDatabase=nothing\n");
    sources.close();
    const QString folder = QStringLiteral(".config/") + UserSettings::organization();
    QDir(home.path()).mkpath(folder);
    QFile settings(home.filePath(folder + u'/' + UserSettings::application() + ".conf"));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[General]\nLoginTimeout=0\n");
    settings.close();

    QProcess program;
    xcb_window_t window = XCB_WINDOW_NONE;
    startProgram(program, home, window);
    if (QTest::currentTestFailed())
        return;
    const QString id = QString::number(window);

    // The dialog is gone: the connect waits for the silent server.
    runWithLogin(id, "SILENT", "select 1");
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(program.state(), QProcess::Running);

    closeWindow(window);
    expectExitZero(program, 15000);
}

STELVIK_TEST_GUILESS_MAIN(tst_Binary)
#include "tst_binary.moc"
