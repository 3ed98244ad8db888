#include "export/WorkbookCheck.h"

#include <QXmlStreamReader>
#include <QtEndian>
#include <zlib.h>

namespace zelvox::sheet {

namespace {

constexpr quint32 kEndOfDirectory = 0x06054b50;
constexpr quint32 kDirectoryEntry = 0x02014b50;
constexpr quint32 kLocalHeader = 0x04034b50;
constexpr qsizetype kEndRecordSize = 22;
constexpr quint16 kStored = 0;
constexpr quint16 kDeflated = 8;

class Reader {
public:
    explicit Reader(const QByteArray& bytes) : bytes_(bytes) {}
    bool Has(qsizetype at, qsizetype size) const {
        return at >= 0 && size >= 0 && at + size <= bytes_.size();
    }
    quint16 U16(qsizetype at) const { return qFromLittleEndian<quint16>(bytes_.constData() + at); }
    quint32 U32(qsizetype at) const { return qFromLittleEndian<quint32>(bytes_.constData() + at); }
    const uchar* Data(qsizetype at) const { return reinterpret_cast<const uchar*>(bytes_.constData() + at); }
    qsizetype Size() const { return bytes_.size(); }

private:
    const QByteArray& bytes_;
};

bool Inflate(const uchar* data, quint32 size, quint32 expected, QByteArray* out) {
    out->resize(expected);
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    stream.next_in = const_cast<uchar*>(data);
    stream.avail_in = size;
    stream.next_out = reinterpret_cast<uchar*>(out->data());
    stream.avail_out = expected;
    const int result = inflate(&stream, Z_FINISH);
    const bool complete = result == Z_STREAM_END && stream.total_out == expected;
    inflateEnd(&stream);
    return complete;
}

bool WellFormedXml(const QByteArray& xml) {
    QXmlStreamReader reader(xml);
    bool sawRoot = false;
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement)
            sawRoot = true;
    }
    return sawRoot && !reader.hasError();
}

} // namespace

bool CheckWorkbookPackage(const QByteArray& package, QString* problem) {
    const Reader zip(package);
    // The end-of-directory record: the writer adds no comment, but allow for one.
    qsizetype end = -1;
    for (qsizetype at = zip.Size() - kEndRecordSize; at >= 0 && at >= zip.Size() - kEndRecordSize - 0xFFFF;
         --at)
        if (zip.U32(at) == kEndOfDirectory) {
            end = at;
            break;
        }
    if (end < 0) {
        *problem = QStringLiteral("the package has no directory (it is truncated)");
        return false;
    }
    const int entries = zip.U16(end + 10);
    qsizetype entry = zip.U32(end + 16);
    bool sawWorkbook = false;
    QByteArray content;
    for (int i = 0; i < entries; ++i) {
        if (!zip.Has(entry, 46) || zip.U32(entry) != kDirectoryEntry) {
            *problem = QStringLiteral("the package directory is damaged");
            return false;
        }
        const quint16 method = zip.U16(entry + 10);
        const quint32 crc = zip.U32(entry + 16);
        const quint32 packed = zip.U32(entry + 20);
        const quint32 unpacked = zip.U32(entry + 24);
        const quint16 nameLength = zip.U16(entry + 28);
        const qsizetype entrySize = 46 + nameLength + zip.U16(entry + 30) + zip.U16(entry + 32);
        const qsizetype local = zip.U32(entry + 42);
        if (!zip.Has(entry, entrySize)) {
            *problem = QStringLiteral("the package directory is damaged");
            return false;
        }
        const QString name =
            QString::fromUtf8(reinterpret_cast<const char*>(zip.Data(entry + 46)), nameLength);
        entry += entrySize;

        if (!zip.Has(local, 30) || zip.U32(local) != kLocalHeader) {
            *problem = QStringLiteral("part %1 is missing").arg(name);
            return false;
        }
        const qsizetype data = local + 30 + zip.U16(local + 26) + zip.U16(local + 28);
        if (!zip.Has(data, packed)) {
            *problem = QStringLiteral("part %1 is cut short").arg(name);
            return false;
        }
        // Deflate shrinks by at most about 1032:1; a larger claim is damage, not a reason to
        // allocate gigabytes.
        constexpr quint64 kMaxDeflateRatio = 1032;
        bool unpackedOk = false;
        if (method == kDeflated && quint64(unpacked) <= quint64(packed) * kMaxDeflateRatio + 1024) {
            unpackedOk = Inflate(zip.Data(data), packed, unpacked, &content);
        } else if (method == kStored && packed == unpacked) {
            content = QByteArray(reinterpret_cast<const char*>(zip.Data(data)), packed);
            unpackedOk = true;
        }
        if (!unpackedOk ||
            crc32(0, reinterpret_cast<const Bytef*>(content.constData()), uInt(content.size())) != crc) {
            *problem = QStringLiteral("part %1 is damaged").arg(name);
            return false;
        }
        if ((name.endsWith(QLatin1String(".xml")) || name.endsWith(QLatin1String(".rels"))) &&
            !WellFormedXml(content)) {
            *problem = QStringLiteral("part %1 is incomplete").arg(name);
            return false;
        }
        sawWorkbook = sawWorkbook || name == QLatin1String("xl/workbook.xml");
    }
    if (!sawWorkbook) {
        *problem = QStringLiteral("the package holds no workbook");
        return false;
    }
    return true;
}

} // namespace zelvox::sheet
