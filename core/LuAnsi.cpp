// The ANSI code page as a pair of lookup tables. ToAnsiChar and FromAnsiChar run per byte of the serial
// traffic on several threads, so a conversion is one atomic load and one array read; the converters are
// only used to build a table when the code page changes.
#include "LuUtils.h"

#include <mutex>
#include <QStringDecoder>
#include <atomic>
#include <map>
#include <memory>
#include <vector>

namespace {

#ifdef _WIN32
const QString DefaultCodePage = QStringLiteral("Locale"); // the system's ANSI code page
#else
const QString DefaultCodePage = QStringLiteral("windows-1251");
#endif

struct TAnsiTable {
    QString name;
    char16_t toChar[256];
    unsigned char toByte[65536];
};

// Decodes one byte on its own. Returns false when the byte does not give exactly one UTF-16 unit: a
// lead byte that waits for more, or a character outside the BMP, means the code page is not one byte
// per character. A byte the code page leaves undefined stands for the character of its own code, so
// that raw device bytes survive a round trip through text.
bool DecodeByte(const QByteArray &codec, int b, char16_t &ch) {
    QStringDecoder decoder(codec.constData());
    const char byte = char(b);
    const QString text = decoder.decode(QByteArrayView(&byte, 1));
    if (text.size() != 1)
        return false;
    ch = text[0] == QChar::ReplacementCharacter ? char16_t(b) : text[0].unicode();
    return true;
}

std::unique_ptr<TAnsiTable> BuildTable(const QString &name) {
    const QByteArray codec = name.toLatin1();
    if (!QStringDecoder(codec.constData()).isValid())
        return nullptr;
    auto table = std::make_unique<TAnsiTable>();
    table->name = name;
    for (int b = 0; b < 256; ++b)
        if (!DecodeByte(codec, b, table->toChar[b]))
            return nullptr;
    std::vector<bool> mapped(65536);
    // Downwards, so that when two bytes give the same character the lower one is written back.
    for (int b = 255; b >= 0; --b) {
        table->toByte[table->toChar[b]] = (unsigned char)(b);
        mapped[table->toChar[b]] = true;
    }
    const unsigned char unknown = mapped[u'?'] ? table->toByte[u'?'] : '?';
    for (int ch = 0; ch < 65536; ++ch)
        if (!mapped[ch])
            table->toByte[ch] = unknown;
    return table;
}

std::mutex tablesLock;
std::atomic<const TAnsiTable *> currentTable{nullptr};

// Tables are kept for the life of the process: a reader may still hold the previous one after a switch.
const TAnsiTable *TableFor(const QString &name) {
    static auto *tables = new std::map<QString, std::unique_ptr<TAnsiTable>>;
    std::lock_guard lock(tablesLock);
    auto found = tables->find(name);
    if (found == tables->end()) {
        auto table = BuildTable(name);
        if (!table)
            return nullptr;
        found = tables->emplace(name, std::move(table)).first;
    }
    return found->second.get();
}

const TAnsiTable &Current() {
    const TAnsiTable *table = currentTable.load(std::memory_order_acquire);
    if (table)
        return *table;
    // First use: install the default unless another thread has set a code page meanwhile.
    const TAnsiTable *initial = TableFor(DefaultCodePage);
    if (!initial)
        initial = TableFor(QStringLiteral("ISO-8859-1"));
    return currentTable.compare_exchange_strong(table, initial, std::memory_order_acq_rel) ? *initial
                                                                                           : *table;
}

QString FromAnsiBytes(QByteArrayView bytes) {
    const TAnsiTable &table = Current();
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = QChar(table.toChar[(unsigned char)(bytes[i])]);
    return text;
}

} // namespace

bool SetAnsiCodePage(const QString &name) {
    const TAnsiTable *table = TableFor(name);
    if (table)
        currentTable.store(table, std::memory_order_release);
    return table != nullptr;
}

QString AnsiCodePage() {
    return Current().name;
}

char ToAnsiChar(QChar ch) {
    return char(Current().toByte[ch.unicode()]);
}

QChar FromAnsiChar(char b) {
    return QChar(Current().toChar[(unsigned char)(b)]);
}

QByteArray ToAnsiText(const QString &text) {
    const TAnsiTable &table = Current();
    QByteArray bytes(text.size(), Qt::Uninitialized);
    char *out = bytes.data();
    for (qsizetype i = 0; i < text.size(); ++i)
        out[i] = char(table.toByte[text[i].unicode()]);
    return bytes;
}

QString FromAnsiText(const QByteArray &bytes) {
    return FromAnsiBytes(bytes);
}

QString FromAnsiBuffer(const char *buffer) {
    return buffer ? FromAnsiBytes(QByteArrayView(buffer)) : QString();
}
