#include "app/Unit1.h"
#include "app/WindowLifecycle.h"
#include "ui_Unit1.h"
#include "widgets/PaintBox.h"
#include "widgets/TovohtmlLabel.h"

#include <QTimer>

// The About page: the title, two link labels and random ellipses drawn while the page is open.

namespace {
const QString AuthorCaption = QStringLiteral("Written by the Stelvik developers");
const QString AuthorURL = QStringLiteral("Mailto:stelvik@example.com");
const QString SiteCaption = QStringLiteral("WWW.EXAMPLE.COM");
const QString SiteURL = QStringLiteral("https://www.example.com/stelvik/");
} // namespace

void TForm1::setupAbout()
{
    Timer1 = new QTimer(this); // owned by the window
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1);
    wire(Timer1, &QTimer::timeout, &TForm1::Timer1Timer);
    m_lifecycle->watchUserPageChanges(
        [this] { runGuarded(this, [this] { PageControl1Change(ui->PageControl1); }); });
    ui->TovohtmlLabel1->setText(AuthorCaption);
    ui->TovohtmlLabel1->setURL(AuthorURL);
    ui->TovohtmlLabel2->setText(SiteCaption);
    ui->TovohtmlLabel2->setURL(SiteURL);
}

// Runs only when the user selects a page; a change of page from code leaves the timer alone.
void TForm1::PageControl1Change(QObject *)
{
    if (ui->PageControl1->currentWidget() == ui->TabSheet4)
        Timer1->start();
    else
        Timer1->stop();
}

void TForm1::Timer1Timer(QObject *)
{
    TPaintBox *box = ui->pb;
    // The corners are drawn unsorted; a box without width or height gives 0 there.
    const int left = Random(box->width());
    const int top = Random(box->height());
    const int right = Random(box->width());
    const int bottom = Random(box->height());
    // 0xFFFFFF (white) itself is never drawn.
    const QColor pen = colorFromValue(Random(0xFFFFFF));
    const QColor brush = colorFromValue(Random(0xFFFFFF));
    box->drawEllipse(left, top, right, bottom, pen, brush);
}
