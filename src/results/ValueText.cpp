#include "results/ValueText.h"

#include "connection/QueryDataset.h"

QString FieldText(const QueryDataset &query, int field)
{
    return query.FieldIsNull(field) ? nullFieldText() : query.FieldString(field);
}
