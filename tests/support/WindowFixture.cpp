#include "support/WindowFixture.h"

#include "support/WaitIdle.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QtTest>

TForm1::Options WindowFixture::options()
{
    TForm1::Options options;
    options.exitOnDestroy = false;
    return options;
}

bool WindowFixture::open(Shown shown)
{
    close();
    m_form = new TForm1(options()); // owned by the fixture, deleted in close()
    return show(shown);
}

bool WindowFixture::show(Shown shown)
{
    if (shown == Shown::No)
        return true;
    m_form->show();
    if (shown == Shown::Exposed)
        return QTest::qWaitForWindowExposed(m_form);
    m_form->activateWindow();
    return QTest::qWaitForWindowActive(m_form);
}

void WindowFixture::close()
{
    delete m_form;
}

QPlainTextEdit *WindowFixture::editor() const
{
    return child<QPlainTextEdit>("RE1");
}

QComboBox *WindowFixture::aliasBox() const
{
    return child<QComboBox>("ComboBox1");
}

QToolButton *WindowFixture::runButton() const
{
    return child<QToolButton>("SpeedButton1");
}

QToolButton *WindowFixture::execButton() const
{
    return child<QToolButton>("SpeedButton2");
}

QToolButton *WindowFixture::closeButton() const
{
    return child<QToolButton>("SpeedButton4");
}

QTableView *WindowFixture::grid() const
{
    return child<QTableView>("DBGrid1");
}

QTabWidget *WindowFixture::pages() const
{
    return child<QTabWidget>("PageControl1");
}

void WindowFixture::type(const QString &sql)
{
    m_form->setEditorText(sql);
}

void WindowFixture::chooseAlias(const QString &alias)
{
    aliasBox()->setEditText(alias);
}

void WindowFixture::start(QToolButton *button, const QString &alias, const QString &sql)
{
    type(sql);
    chooseAlias(alias);
    button->click();
}

bool WindowFixture::waitIdle(int timeoutMs) const
{
    return waitForNoWorker(*m_form, timeoutMs);
}

bool WindowFixture::run(const QString &alias, const QString &sql, int timeoutMs)
{
    start(runButton(), alias, sql);
    return waitIdle(timeoutMs);
}
