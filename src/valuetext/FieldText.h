#pragma once

#include "valuetext/FieldTypes.h"

#include <QString>
#include <QStringList>

// The text rules shared by the grid, the exports and the copies of a result: the text of one
// value, blank padding, the fixed-width report cells and the comma-quote lines. Pure functions
// over a small field description; results/ValueText.h reads one from a dataset. Money and float
// cells use the separators of the one locale cache (ValueLocale.h).

// What the rules read of one field of the current record.
struct FieldInfo
{
    QString title; // FieldTitle
    int type = 0; // FieldType code
    int displayWidth = 0; // DisplayWidth, in characters
    bool isNull = false; // FieldIsNull
    QString text; // FieldString (ignored when isNull)
    bool hasNumber = false; // a money or float value whose fetched number is in `number`
    double number = 0;
};

// How the report layout treats a field type code.
enum class TypeGroup { WholeNumber, MoneyFloat, Date, Time, DateTime, Other };
TypeGroup typeGroup(int typeCode);

// "<Null>": the text of a null value in every export and copy, and in the grid.
const QString &nullFieldText();
QString FieldText(const FieldInfo &field); // "<Null>" for a null value, else the text
QString PadLeft(const QString &text, int width); // blanks in front; never shortens
QString PadRight(const QString &text, int width); // blanks behind; never shortens
int MaxWidth(int a, int b);

// The width of a field's column in the report's header line (and in its data lines, money and
// float columns aside, which are only DisplayWidth wide there).
int ReportColumnWidth(const FieldInfo &field);

QString ReportHeaderCell(const FieldInfo &field);
QString ReportDataCell(const FieldInfo &field);
QString RowCopyCell(const FieldInfo &field);

// The same cells appended to a line being built, so that a long walk allocates nothing per cell.
void appendReportHeaderCell(QString &line, const FieldInfo &field);
void appendReportDataCell(QString &line, const FieldInfo &field);
void appendRowCopyCell(QString &line, const FieldInfo &field);

// The cells of one line joined by two blanks.
QString JoinCells(const QStringList &cells);

// Reads a money or float text back as a number and writes it as "###,###,##0.00" with the
// locale's separators. Throws std::runtime_error "'<text>' is not a valid floating point value".
QString FormatMoney(const QString &text);
// The same from the fetched number, without its text: the same result as FormatMoney of the
// number's text form (15 significant digits), the same error for a value that is not finite.
QString FormatMoney(double value);

// Comma-quote text: every piece between double quotes, joined by single commas, nothing escaped.
QString CommaQuoteJoin(const QStringList &pieces);
