#include "app/Unit1.h"
#include "connection/Session.h"
#include "support/ModalScript.h"
#include "support/SettingsFile.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"
#include "widgets/ErrorBox.h"
#include "widgets/ReplaceDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <memory>
#include <stdexcept>

// The main window's structure, its start-up sequence with and without a failing step, and the
// default error handler's text rule.
class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void toolButtons_data();
    void toolButtons();
    void resultButtonsFollowTheRightEdge();
    void toolbarControls();
    void focusOrder();
    void pages();
    void editors();
    void statusPanels();
    void menus_data();
    void menus();
    void editorKeys_data();
    void editorKeys();
    void contextMenusOpenOnRightClick();
    void fileDialogs_data();
    void fileDialogs();
    void hintsStayUpThirtySeconds();
    void pageHandlerRunsOnlyForTheUser();
    void closingFreesTheHistory();

    void startupListsEveryAliasOnceSorted();
    void startupFailureRunsTheRemainingSteps();
    void errorBoxText_data();
    void errorBoxText();
    void unhandledErrorShowsTheBox();

private:
    template <typename T>
    T *child(const char *name) const
    {
        return m_form.child<T>(name);
    }
    void makeForm();

    WindowFixture m_form;
    QTemporaryDir m_systemSettings; // stands for the machine-wide settings
};

void tst_MainWindow::initTestCase()
{
    QApplication::setApplicationName(UserSettings::application());
    QApplication::setOrganizationName(UserSettings::organization());
    QVERIFY(m_systemSettings.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_systemSettings.path());
    // Added in an order that is not alphabetical, in mixed case.
    for (const char *dsn : { "zeta", "Alpha", "mid" })
        TestEnv::addSqliteDsn(QLatin1String(dsn));
    SettingsFile().setValue(QStringLiteral("History0"), QStringLiteral("SELECT 1\r\n"));
}

void tst_MainWindow::makeForm()
{
    QVERIFY(m_form.open());
}

void tst_MainWindow::init()
{
    makeForm();
}

void tst_MainWindow::cleanup()
{
    m_form.close();
}

void tst_MainWindow::toolButtons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QPoint>("topLeft");
    QTest::addColumn<QString>("hint");
    const struct
    {
        const char *name;
        bool toolbar;
        int left;
        const char *hint;
    } rows[] = {
        { "SpeedButton7", true, 8, "Load Query" },
        { "SpeedButton8", true, 32, "Save Query" },
        { "SpeedButton9", true, 56, "Print Query" },
        { "SpeedButton1", true, 240, "Run Query (use with Select SQL)" },
        { "SpeedButton2", true, 264, "Exec SQL (use for Insert, Update, and Delete SQL)" },
        { "SpeedButton4", true, 288, "Close Query" },
        { "SpeedButton12", true, 320, "Close and Logout" },
        { "SpeedButton3", true, 548,
            "Copy list of fields to Clipboard (suitable for pasting into SQL Statment)" },
        { "SpeedButton5", true, 572, "Save results as Comma-Quote Delimited File" },
        { "SpeedButton6", true, 597, "Save Results in Report Format" },
        { "SpeedButton10", false, 8, "Make this the current query" },
        { "SpeedButton11", false, 32, "Print Query" },
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.name)
                                << QString::fromLatin1(row.toolbar ? "Panel3" : "Panel1")
                                << QPoint(row.left, row.toolbar ? 4 : 3)
                                << QString::fromLatin1(row.hint);
}

void tst_MainWindow::toolButtons()
{
    QFETCH(QString, name);
    QFETCH(QString, panel);
    QFETCH(QPoint, topLeft);
    QFETCH(QString, hint);
    auto *button = m_form->findChild<QToolButton *>(name);
    QVERIFY(button);
    QCOMPARE(button->parentWidget()->objectName(), panel);
    QCOMPARE(button->geometry(), QRect(topLeft, QSize(25, 25)));
    QCOMPARE(button->toolTip(), hint);
    QCOMPARE(button->focusPolicy(), Qt::NoFocus);
    QVERIFY(button->autoRaise());
    // A glyph with a distinct disabled image, also for a 2x screen.
    const QIcon icon = button->icon();
    QVERIFY(!icon.isNull());
    const QImage normal = icon.pixmap(QSize(16, 16), 2.0, QIcon::Normal).toImage();
    const QImage disabled = icon.pixmap(QSize(16, 16), 2.0, QIcon::Disabled).toImage();
    QCOMPARE(normal.size(), QSize(32, 32));
    QVERIFY(normal != disabled);
}

void tst_MainWindow::resultButtonsFollowTheRightEdge()
{
    QCOMPARE(m_form->centralWidget()->width(), 639);
    auto *panel3 = child<QWidget>("Panel3");
    QCOMPARE(panel3->height(), 33);

    const int wider = 250;
    auto *history = child<QComboBox>("ComboBox2");
    child<QTabWidget>("PageControl1")->setCurrentIndex(2);
    const int gap = child<QWidget>("Panel1")->width() - history->geometry().right();
    QVERIFY(gap > 0);
    const int historyWidth = history->width();
    m_form->resize(m_form->width() + wider, m_form->height() + 40);
    QTRY_COMPARE(panel3->width(), 639 + wider);
    const std::pair<const char *, int> anchored[] = { { "SpeedButton3", 548 },
        { "SpeedButton5", 572 }, { "SpeedButton6", 597 } };
    for (const auto &[name, left] : anchored)
        QCOMPARE(child<QToolButton>(name)->geometry(), QRect(left + wider, 4, 25, 25));
    for (const char *name : { "SpeedButton7", "SpeedButton1", "SpeedButton12" })
        QCOMPARE(child<QToolButton>(name)->y(), 4);
    QCOMPARE(child<QToolButton>("SpeedButton12")->x(), 320);
    QCOMPARE(child<QComboBox>("ComboBox1")->geometry(), QRect(93, 6, 145, 21));
    QCOMPARE(child<QCheckBox>("CheckBox1")->x(), 368);
    // The history list stretches with the page.
    QTRY_COMPARE(history->width(), historyWidth + wider);
    QCOMPARE(child<QWidget>("Panel1")->width() - history->geometry().right(), gap);
    QCOMPARE(history->x(), 87);
}

void tst_MainWindow::toolbarControls()
{
    auto *aliases = child<QComboBox>("ComboBox1");
    QVERIFY(aliases->isEditable());
    QCOMPARE(aliases->geometry(), QRect(93, 6, 145, 21));
    auto *count = child<QCheckBox>("CheckBox1");
    QCOMPARE(count->geometry().topLeft(), QPoint(368, 8));
    QCOMPARE(count->height(), 17);
    // 89 wide, or wider where the face needs more room for the whole caption.
    QCOMPARE(count->width(), std::max(89, count->sizeHint().width()));
    QCOMPARE(count->text(), QStringLiteral("Record Count"));
    QCOMPARE(count->toolTip(),
        QStringLiteral("Generate a Record count.  This can take a while, it's got to loop "
                       "through the result set!"));
    QVERIFY(!count->isChecked());
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Morvane version .99M"));
    QCOMPARE(TForm1::titleText(), QStringLiteral("Morvane version .99M"));
    QCOMPARE(child<QLabel>("Aboutlabel")->text(), QStringLiteral("Morvane version .99M"));
    QVERIFY(!m_form->QueryChanged);
    QVERIFY(!m_form->windowIcon().isNull());
    const QRect desktop = m_form->screen()->availableGeometry();
    QVERIFY(qAbs(m_form->geometry().center().x() - desktop.center().x()) <= 1);
    QVERIFY(qAbs(m_form->geometry().center().y() - desktop.center().y()) <= 1);
}

void tst_MainWindow::focusOrder()
{
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.form()));
    auto *aliases = child<QComboBox>("ComboBox1");
    aliases->setFocus();
    QTRY_VERIFY(aliases->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTRY_COMPARE(QApplication::focusWidget(), child<QCheckBox>("CheckBox1"));
}

void tst_MainWindow::pages()
{
    auto *pages = child<QTabWidget>("PageControl1");
    const QStringList names { "TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4" };
    const QStringList titles { "SQL", "Results", "History", "About" };
    QCOMPARE(pages->count(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(pages->widget(i)->objectName(), names[i]);
        QCOMPARE(pages->tabText(i), titles[i]);
    }
    QCOMPARE(pages->currentIndex(), 0);
    QCOMPARE(child<QTableView>("DBGrid1")->parentWidget()->objectName(), names[1]);
    QVERIFY(!child<QComboBox>("ComboBox2")->isEditable());
    QCOMPARE(child<QWidget>("Panel1")->height(), 33);
    QCOMPARE(child<QWidget>("Panel2")->height(), 41);
    QCOMPARE(child<QLabel>("TovohtmlLabel1")->size(), QSize(191, 19));
    QCOMPARE(
        child<QLabel>("TovohtmlLabel1")->toolTip(), QStringLiteral("Click to email the author"));
    QCOMPARE(child<QLabel>("TovohtmlLabel2")->size(), QSize(137, 19));
    QCOMPARE(child<QLabel>("TovohtmlLabel2")->toolTip(), QStringLiteral("Check out my website!"));
    QVERIFY(child<QWidget>("pb"));
}

void tst_MainWindow::editors()
{
    auto *editor = child<QPlainTextEdit>("RE1");
    QVERIFY(editor->toPlainText().isEmpty());
    QCOMPARE(editor->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(editor->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(editor->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(editor->font().bold());
    const QString family = QFontDatabase::hasFamily(QStringLiteral("Courier New"))
        ? QStringLiteral("Courier New")
        : QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    QCOMPARE(editor->font().family(), family);
    QCOMPARE(QFontInfo(editor->font()).pointSize(), 12);
    auto *full = child<QPlainTextEdit>("HistFullSQL");
    QVERIFY(full->isReadOnly());
    QCOMPARE(full->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(full->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(full->font(), editor->font());
}

void tst_MainWindow::statusPanels()
{
    auto *bar = child<QStatusBar>("StatusBar1");
    QCOMPARE(bar->height(), 21);
    QCOMPARE(bar->geometry().bottom(), m_form->height() - 1);
    auto *first = child<QLabel>("StatusPanel0");
    auto *second = child<QLabel>("StatusPanel1");
    QCOMPARE(first->width(), 75);
    QVERIFY(second->x() > first->geometry().right());
    // Panel 1 reaches to the right edge (short of the size grip).
    QVERIFY(second->geometry().right() > bar->width() - 40);
    QVERIFY(m_form->statusText(0).isEmpty());
    QVERIFY(m_form->statusText(1).isEmpty());
    m_form->setStatusText(0, QStringLiteral("12"));
    m_form->setStatusText(1, QStringLiteral("Running Query"));
    QCOMPARE(first->text(), QStringLiteral("12"));
    QCOMPARE(m_form->statusText(1), QStringLiteral("Running Query"));
    QCOMPARE(m_form->statusText(0), QStringLiteral("12"));
}

void tst_MainWindow::menus_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("captions"); // empty for a separator
    QTest::newRow("editor") << "PopupMenu1"
                            << QStringList { "Undo1", "N1", "Copy1", "Cut1", "Paste1", "SelectAll1",
                                   "Font1", "Font2", "Print1", "FindReplace1" }
                            << QStringList { "Undo", "", "Copy", "Cut", "Paste", "Select All", "",
                                   "Font", "Print", "Find-Replace" };
    QTest::newRow("grid") << "PopupMenu2"
                          << QStringList { "CopyFieldtoClipboard1", "CopyEntireRowtoclipboard1",
                                 "CopyEntireRowCommaQuote1", "N2", "PinResult1",
                                 "ClosePinnedResult1", "CompareResults1" }
                          << QStringList { "Copy Field to Clipboard",
                                 "Copy Entire Row to clipboard", "Copy Entire Row (Comma Quote)",
                                 "", "Pin Result", "Close Pinned Result", "Compare Results..." };
}

void tst_MainWindow::menus()
{
    QFETCH(QString, menu);
    QFETCH(QStringList, names);
    QFETCH(QStringList, captions);
    auto *popup = m_form->findChild<QMenu *>(menu);
    QVERIFY(popup);
    const QList<QAction *> actions = popup->actions();
    QCOMPARE(actions.size(), names.size());
    for (int i = 0; i < actions.size(); ++i) {
        QCOMPARE(actions[i]->objectName(), names[i]);
        QCOMPARE(actions[i]->isSeparator(), captions[i].isEmpty());
        QCOMPARE(actions[i]->text(), captions[i]);
    }
}

void tst_MainWindow::editorKeys_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("action");
    QTest::newRow("Menu, Up: the last item") << "Menu Up Return"
                                             << "FindReplace1";
    QTest::newRow("Menu, Down Down: over the separator") << "Menu Down Down Return"
                                                         << "Copy1";
    QTest::newRow("Run Script's key") << "Alt+X"
                                      << "RunScript1";
}

// Keys go to the focus (or the open menu), as a user's do.
void tst_MainWindow::editorKeys()
{
    QFETCH(QString, keys);
    QFETCH(QString, action);
    m_form->activateWindow();
    child<QPlainTextEdit>("RE1")->setFocus();
    QTRY_VERIFY(child<QPlainTextEdit>("RE1")->hasFocus());
    QSignalSpy triggered(child<QAction>(qPrintable(action)), &QAction::triggered);
    for (const QString &key : keys.split(u' ')) {
        QWidget *to = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                        : QApplication::focusWidget();
        // The desktop turns the Menu key into a keyboard request for the focus's menu.
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, {}, to->mapToGlobal(QPoint()));
        if (key == u"Menu")
            QApplication::sendEvent(to, &menuKey);
        else
            QTest::keySequence(to, QKeySequence(key));
    }
    QTRY_COMPARE(triggered.count(), 1);
}

void tst_MainWindow::contextMenusOpenOnRightClick()
{
    const struct
    {
        const char *view;
        const char *menu;
        int page;
    } cases[] = { { "RE1", "PopupMenu1", 0 }, { "DBGrid1", "PopupMenu2", 1 } };
    for (const auto &c : cases) {
        child<QTabWidget>("PageControl1")->setCurrentIndex(c.page);
        auto *view = child<QAbstractScrollArea>(c.view);
        auto *menu = child<QMenu>(c.menu);
        QSignalSpy aboutToShow(menu, &QMenu::aboutToShow);
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(10, 10),
            view->viewport()->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(view->viewport(), &click);
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(aboutToShow.count(), 1);
        menu->close();
    }
}

void tst_MainWindow::fileDialogs_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("save");
    QTest::addColumn<QStringList>("filters");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("exports") << "SaveDialog1" << true
                             << QStringList { "Text Files (*.txt)", "AnyFile (*.*)" } << "txt";
    QTest::newRow("save query") << "SaveDialog2" << true
                                << QStringList { "SQL Files (*.sql)", "TXT Files (*.txt)",
                                       "Any File (*.*)" }
                                << "sql";
    QTest::newRow("load query") << "OpenDialog1" << false
                                << QStringList { "SQL Files (*.sql)", "TXT Files (*.txt)",
                                       "All Files (*.*)" }
                                << "sql";
}

void tst_MainWindow::fileDialogs()
{
    QFETCH(QString, name);
    QFETCH(bool, save);
    QFETCH(QStringList, filters);
    QFETCH(QString, suffix);
    auto *dialog = m_form->findChild<QFileDialog *>(name);
    QVERIFY(dialog);
    QCOMPARE(dialog->acceptMode(), save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    QCOMPARE(dialog->nameFilters(), filters);
    QCOMPARE(dialog->selectedNameFilter(), filters.first());
    QCOMPARE(dialog->defaultSuffix(), suffix);
    QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
    // The commands ask about existing files themselves, where they ask at all.
    QVERIFY(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    QVERIFY(!dialog->isVisible());
    QVERIFY(m_form->findChild<QFontDialog *>(QStringLiteral("FontDialog1")));
    auto *replace = m_form->findChild<TReplaceDialog *>(QStringLiteral("ReplaceDialog1"));
    QVERIFY(replace);
    QCOMPARE(replace, m_form->ReplaceDialog1);
    auto *timer = m_form->findChild<QTimer *>(QStringLiteral("Timer1"));
    QCOMPARE(timer->interval(), 1);
    QVERIFY(!timer->isActive());
}

void tst_MainWindow::hintsStayUpThirtySeconds()
{
    auto *count = child<QCheckBox>("CheckBox1");
    const QPoint at = count->rect().center();
    QHelpEvent hover(QEvent::ToolTip, at, count->mapToGlobal(at));
    QApplication::sendEvent(count, &hover);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), count->toolTip());
    QCOMPARE(count->toolTipDuration(), 30000);
    QToolTip::hideText();
}

void tst_MainWindow::pageHandlerRunsOnlyForTheUser()
{
    auto *pages = child<QTabWidget>("PageControl1");
    auto *timer = child<QTimer>("Timer1");
    pages->setCurrentIndex(3); // from code: no handler
    QVERIFY(!timer->isActive());
    pages->setCurrentIndex(0);
    QTabBar *bar = pages->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(3).center());
    QCOMPARE(pages->currentIndex(), 3);
    QVERIFY(timer->isActive());
    pages->setCurrentIndex(1); // from code again, just after the user's click was handled
    QTRY_VERIFY(timer->isActive());
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    QVERIFY(!timer->isActive());
    // Ctrl+Shift+Tab from the SQL page wraps round to the About page: a user's choice too.
    QTest::keyClick(pages, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(pages->currentIndex(), 3);
    QVERIFY(timer->isActive());
}

void tst_MainWindow::closingFreesTheHistory()
{
    m_form->HistoryList.append(
        HistoryItem { QStringLiteral("SELECT 2"), TString(QStringLiteral("SELECT 2\r\n")) });
    QVERIFY(m_form->close());
    QVERIFY(m_form->HistoryList.isEmpty());
}

void tst_MainWindow::startupListsEveryAliasOnceSorted()
{
    const QComboBox *aliases = child<QComboBox>("ComboBox1");
    QStringList items;
    for (int i = 0; i < aliases->count(); ++i)
        items << aliases->itemText(i);
    for (const char *alias : { "Alpha", "mid", "zeta", "db2p201", "db2t301", "db2t302", "db2t303" })
        QCOMPARE(items.count(QLatin1String(alias)), 1);
    QStringList sorted = items;
    sorted.sort(Qt::CaseInsensitive);
    QCOMPARE(items, sorted);
    QVERIFY(aliases->currentText().isEmpty());

    // A second start creates nothing new: each alias is still listed once.
    m_form.close();
    makeForm();
    QStringList again;
    for (int i = 0; i < child<QComboBox>("ComboBox1")->count(); ++i)
        again << child<QComboBox>("ComboBox1")->itemText(i);
    QCOMPARE(again, items);
    QCOMPARE(m_form->HistoryList.size(), 1);
    QCOMPARE(m_form->HistoryList.first().Object.FullText, QStringLiteral("SELECT 1\r\n"));
}

void tst_MainWindow::startupFailureRunsTheRemainingSteps()
{
    m_form.close();
    // The DB2 client's folder holds a folder where its ini file should be: step 9 cannot write.
    QTemporaryDir client;
    QVERIFY(QDir(client.path()).mkdir(QStringLiteral("db2cli.ini")));
    {
        QSettings db2(QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("IBM"),
            QStringLiteral("DB2"));
        db2.setValue(QStringLiteral("DB2 Path Name"), client.path());
    }
    QStringList engineOrder;
    TestEnv::session().ListAliasNames(engineOrder);
    QStringList sorted = engineOrder;
    sorted.sort(Qt::CaseInsensitive);
    QVERIFY2(engineOrder != sorted, "the engine must list the aliases unsorted for this test");

    {
        ModalScript script({ ModalScript::press(QMessageBox::Ok) });
        QVERIFY(m_form.open(WindowFixture::Shown::No));
        QVERIFY(script.done());
        QCOMPARE(script.seen.size(), 1);
        QCOMPARE(script.seen.first().title, QStringLiteral("Stelvik"));
        QCOMPARE(script.seen.first().text,
            QStringLiteral("Unable to write to %1/db2cli.ini.").arg(client.path()));
    }
    QSettings(QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("IBM"),
        QStringLiteral("DB2"))
        .clear();

    // The steps before and after the failing one ran: the list is filled and sorted, the
    // history loaded.
    QStringList items;
    for (int i = 0; i < child<QComboBox>("ComboBox1")->count(); ++i)
        items << child<QComboBox>("ComboBox1")->itemText(i);
    QCOMPARE(items, sorted);
    QCOMPARE(m_form->windowTitle(), TForm1::titleText());
    QCOMPARE(m_form->HistoryList.size(), 1);
    QCOMPARE(m_form->HistoryList.first().Object.FullText, QStringLiteral("SELECT 1\r\n"));
    QVERIFY(m_form.show());
}

void tst_MainWindow::errorBoxText_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "Cannot open clipboard"
                            << "Cannot open clipboard.";
    QTest::newRow("digit") << "Error 42"
                           << "Error 42.";
    QTest::newRow("full stop") << "Done."
                               << "Done.";
    QTest::newRow("exclamation") << "Stop!"
                                 << "Stop!";
    QTest::newRow("closing bracket") << "(none)"
                                     << "(none)";
    QTest::newRow("quote") << "Invalid data type for 'History3'"
                           << "Invalid data type for 'History3'";
    QTest::newRow("slash sorts after") << "Unable to write to /tmp/"
                                       << "Unable to write to /tmp/.";
    QTest::newRow("colon sorts after") << "Reason:"
                                       << "Reason:.";
    QTest::newRow("blank") << "trailing "
                           << "trailing ";
    QTest::newRow("accented") << QStringLiteral("caf\u00e9") << QStringLiteral("caf\u00e9.");
    QTest::newRow("empty") << QString() << QString();
}

void tst_MainWindow::errorBoxText()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(::errorBoxText(message), shown);
}

void tst_MainWindow::unhandledErrorShowsTheBox()
{
    ModalScript script({ ModalScript::press(QMessageBox::Ok) });
    runGuarded(m_form.form(), [] { throw std::runtime_error("Cannot create file x.sql"); });
    QVERIFY(script.done());
    QCOMPARE(script.seen.size(), 1);
    QCOMPARE(script.seen.first().title, QStringLiteral("Stelvik"));
    QCOMPARE(script.seen.first().text, QStringLiteral("Cannot create file x.sql."));
}

STELVIK_TEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
