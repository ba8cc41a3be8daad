// The resource block reader through the private slot of a Request element, on
// a buffer positioned at the block: the slot's adapter and the cache stores.
#include "fuzzsupport.h"
#include "resourcesmap.h"
#include "zelkoservicehelper.h"

#include <QBuffer>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzInitialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static ZelkoServiceHelper element;
    QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    FUZZ_CHECK(QMetaObject::invokeMethod(&element, "parseResource", Qt::DirectConnection,
                                         Q_ARG(QBuffer *, &buffer)));
    FUZZ_CHECK(buffer.pos() <= buffer.size());
    FUZZ_CHECK(ResourcesMap::getInstance()->count() <= ResourcesMap::Capacity);
    return 0;
}
