#include "tutor_fixture.h"

#include "platform/code_page.h"

QByteArray recordBytes(const QString& text)
{
    return codepage::encode(text);
}
