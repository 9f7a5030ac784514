#include "jobs/files/TStringTable.h"

#include <QtEndian>

void TStringTable::SetStore(const QByteArray& image) {
    m_store = image;
    m_spans.clear();
}

void TStringTable::AddStored(qsizetype offset, qsizetype units) {
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    m_spans.push_back({offset, units});
#else
    // The image holds little-endian units: copy them in host order.
    const char* bytes = m_store.constData() + offset;
    QString text(units, Qt::Uninitialized);
    for (qsizetype i = 0; i < units; ++i)
        text[i] = QChar(qFromLittleEndian<uint16_t>(bytes + 2 * i));
    Append(text);
#endif
}

void TStringTable::Append(QStringView text) {
    const qsizetype offset = m_store.size();
    m_store.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    m_spans.push_back({offset, text.size()});
}

void TStringTable::RemoveLast() {
    if (m_spans.empty())
        return;
    const TSpan last = m_spans.back();
    m_spans.pop_back();
    // Only a text appended last sits at the end of the store.
    if (last.Offset + last.Units * 2 == m_store.size())
        m_store.truncate(last.Offset);
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
