#include "app/GuardRails.h"

#include "settings/ParmStore.h"
#include "sql/SqlStatements.h"

#include <QMessageBox>
#include <QSettings>

namespace GuardRails {

bool confirm(QWidget *parent, const QString &alias, bool production, const QString &text)
{
    // Unset, the unfiltered-change question is the production question's part: it comes only
    // there. True asks it on every alias; false never asks it on its own.
    const QVariant setting = openUserSettings()->value(QStringLiteral("ConfirmUnfilteredChanges"));
    const bool unfilteredEverywhere = setting.isValid() && setting.toBool();

    QStringList reasons;
    QString firstLine;
    for (const Sql::Statement &statement : Sql::splitStatements(text)) {
        const bool changes = statement.kind == Sql::StatementKind::Change
            || statement.kind == Sql::StatementKind::Definition
            || statement.kind == Sql::StatementKind::Call;
        const bool asks = (production && changes) || (unfilteredEverywhere && statement.unfiltered);
        if (!asks)
            continue;
        const QString line = text.mid(statement.begin, statement.end - statement.begin)
                                 .section(u'\n', 0, 0)
                                 .trimmed();
        if (firstLine.isEmpty())
            firstLine = line;
        QString reason = QStringLiteral("Line %1: a %2 statement")
                             .arg(statement.line)
                             .arg(Sql::kindName(statement.kind));
        if (statement.unfiltered)
            reason += QStringLiteral(" without a WHERE clause: it changes every row of its table");
        reasons << reason + QStringLiteral(" (") + line.left(80) + QStringLiteral(")");
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
