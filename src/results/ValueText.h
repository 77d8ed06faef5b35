#pragma once

#include "valuetext/FieldText.h"

#include <QString>

class QueryDataset;

// The value-text rules (valuetext/FieldText.h) over the current record of a dataset, which they
// read and never move. UI thread, like the dataset they read. Whole lines come from LineBuilder.

QString FieldText(const QueryDataset &query, int field); // "<Null>" for a null value
