#include "startup/Settings.h"

namespace nodalis {

namespace {

int firstFlagged(const QList<RecordField>& fields, bool RecordField::*flag)
{
    for (int i = 1; i < fields.size(); ++i) {
        if (fields[i].*flag)
            return i;
    }
    return 0;
}

} // namespace

int Settings::NumProgFieldIndex() const
{
    return firstFlagged(RecordFields, &RecordField::IsNumProg);
}

int Settings::InfoProgFieldIndex() const
{
    return firstFlagged(RecordFields, &RecordField::IsInfoProg);
}

int Settings::UniqueIdFieldIndex() const
{
    return firstFlagged(RecordFields, &RecordField::IsUniqueIDProgRem);
}

Settings& Config()
{
    static Settings settings;
    return settings;
}

} // namespace nodalis
