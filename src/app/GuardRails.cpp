#include "app/GuardRails.h"

#include "app/AliasDialect.h"
#include "settings/UserSettings.h"
#include "sql/SqlStatements.h"

#include <QMessageBox>

namespace GuardRails {

namespace {

QString describe(const Sql::Statement &statement, bool production)
{
    const QString kind = Sql::kindName(statement.kind);
    const bool vowel = kind.startsWith(u'o');
    QString reason = QStringLiteral("Line %1: %2 %3 statement")
                         .arg(statement.line)
                         .arg(vowel ? QStringLiteral("an") : QStringLiteral("a"), kind);
    // What it changes, at whatever level, when its kind alone does not say so.
    const Sql::Effects changes = statement.effects & Sql::ChangingEffects;
    if (production && changes)
        reason += QStringLiteral(" that ") + Sql::effectsText(changes);
    if (statement.unfiltered)
        reason += QStringLiteral(" with an UPDATE or DELETE without a WHERE clause: it changes "
                                 "every row of its table");
    return reason;
}

} // namespace

bool confirm(QWidget *parent, const QString &alias, bool production, const QString &text)
{
    // Unset, the unfiltered-change question is the production question's part: it comes only
    // there. True asks it on every alias; false never asks it on its own.
    const bool unfilteredEverywhere = UserSettings::confirmUnfilteredEverywhere();

    QStringList reasons;
    for (const Sql::Statement &statement : Sql::splitStatements(text, aliasDialect(alias))) {
        // Fail closed: on production anything that changes, or may, asks; so does a statement
        // whose effect is not known (an assigning PRAGMA, a vendor command, an unknown word).
        const bool changes = (statement.effects & Sql::ChangingEffects) != 0;
        const bool asks = (production && changes) || (unfilteredEverywhere && statement.unfiltered);
        if (!asks)
            continue;
        const QString line = text.mid(statement.begin, statement.end - statement.begin)
                                 .section(u'\n', 0, 0)
                                 .trimmed();
        reasons << describe(statement, production) + QStringLiteral(" (") + line.left(80)
                + QStringLiteral(")");
    }
    if (reasons.isEmpty())
        return true;
    QString question = production ? QStringLiteral("%1 is a PRODUCTION database.\n\n").arg(alias)
                                  : QStringLiteral("This runs on %1.\n\n").arg(alias);
    question += reasons.join(QLatin1Char('\n'));
    question += QStringLiteral("\n\nRun it?");
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Confirm"), question,
        QMessageBox::Yes | QMessageBox::No, parent);
    box.setObjectName(QStringLiteral("ConfirmChange"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace GuardRails
