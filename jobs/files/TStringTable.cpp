#include "jobs/files/TStringTable.h"

#include <QtEndian>

#include <stdexcept>

namespace {

// Texts are UTF-16 units from an even offset of the store (every text of the file format starts
// after a 4-byte length).
uint32_t Units(qsizetype count) {
    if (count < 0 || count > qsizetype(UINT32_MAX))
        throw std::length_error("text table too large");
    return uint32_t(count);
}

} // namespace

void TStringTable::SetStore(const QByteArray& image) {
    m_store = image;
    m_spans.clear();
}

void TStringTable::AddStored(qsizetype offset, qsizetype units) {
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    if (offset % 2 == 0) {
        m_spans.push_back({Units(offset / 2), Units(units)});
        return;
    }
#endif
    // Units in another order, or not aligned (a damaged image): the text is copied.
    const char* bytes = m_store.constData() + offset;
    QString text(units, Qt::Uninitialized);
    for (qsizetype i = 0; i < units; ++i)
        text[i] = QChar(qFromLittleEndian<uint16_t>(bytes + 2 * i));
    Append(text);
}

void TStringTable::Append(QStringView text) {
    if (m_store.size() % 2 != 0)
        m_store.append('\0');
    const qsizetype offset = m_store.size() / 2;
    m_store.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    m_spans.push_back({Units(offset), Units(text.size())});
}

void TStringTable::RemoveLast() {
    if (m_spans.empty())
        return;
    const TSpan last = m_spans.back();
    m_spans.pop_back();
    // Only a text appended last sits at the end of the store.
    if ((qsizetype(last.Offset) + qsizetype(last.Units)) * 2 == m_store.size())
        m_store.truncate(qsizetype(last.Offset) * 2);
}

void TStringTable::Clear() {
    m_store.clear();
    m_spans.clear();
    m_spans.shrink_to_fit();
}

void TStringTable::Reserve(qsizetype count) {
    m_spans.reserve(size_t(count));
}

QStringList TStringTable::ToList() const {
    QStringList list;
    list.reserve(Size());
    for (qsizetype i = 0; i < Size(); ++i)
        list.append(At(i).toString());
    return list;
}
