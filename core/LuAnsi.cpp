// The ANSI code page as a pair of lookup tables. ToAnsiChar and FromAnsiChar run per byte of the serial
// traffic on several threads, so a conversion is one atomic load and one array read; the converters are
// only used to build a table when the code page changes.
#include "LuPlatform.h"
#include "LuUtils.h"

#include <mutex>
#include <atomic>
#include <map>
#include <memory>
#include <vector>

namespace {

struct TAnsiTable {
    QString name;
    char16_t toChar[256];
    unsigned char toByte[65536];
};

std::unique_ptr<TAnsiTable> BuildTable(const QString &name) {
    auto table = std::make_unique<TAnsiTable>();
    table->name = name;
    for (int b = 0; b < 256; ++b)
        if (!DecodeAnsiByte(name, (unsigned char)(b), table->toChar[b]))
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
    const TAnsiTable *initial = TableFor(DefaultAnsiCodePage());
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
