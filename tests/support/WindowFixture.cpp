#include "support/WindowFixture.h"

#include "support/WaitIdle.h"

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
