#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QVector>

class QCheckBox;
class QComboBox;
class QLabel;

// What a value must look like to be sent: the kind of the parameter's type as the driver
// describes it, text when it cannot say.
enum class ParameterKind : unsigned char { Text, Integer, Decimal, Float, Date, Time, Timestamp };

struct ParameterPrompt
{
    QString name; // ":note", "$1", "?2"
    ParameterKind kind = ParameterKind::Text;
    QString typeName; // shown beside the name ("INTEGER"); empty when unknown
    QStringList recent; // values used before, newest first: the first is proposed
    bool lastWasNull = false;
    bool list = false; // an IN list: each line that is not blank is one value of the kind
};

struct ParameterAnswer
{
    bool isNull = false;
    QString text;
};

// One dialog for every marker of a statement, keyboard first: the first field has the focus,
// Return runs and Esc cancels. Each field is an editable list of the values used before and has
// a NULL box. A value its kind refuses is marked and the dialog stays open.
class ParameterDialog : public QDialog
{
    Q_OBJECT

public:
    ParameterDialog(const QString &statement, const QVector<ParameterPrompt> &prompts,
        QWidget *parent = nullptr);

    QVector<ParameterAnswer> answers() const;

    // Why the text is no value of that kind ("not a date (yyyy-mm-dd)"), or empty when it is.
    static QString problem(ParameterKind kind, const QString &text);

    void accept() override;

private:
    struct Field
    {
        ParameterKind kind;
        bool list;
        QComboBox *value;
        QCheckBox *null;
    };
    QVector<Field> m_fields;
    QLabel *m_message;
};
