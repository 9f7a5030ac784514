#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <vector>

// Many texts in one buffer. The lists a run compares against hold hundreds of thousands of paths
// and time stamps; one allocation per text would cost more time and memory than the run's own
// work. The texts of a decoded stored job file stay where they are in its image.
class TStringTable {
public:
    // Takes the decoded image whose texts AddStored then names (shared, not copied).
    void SetStore(const QByteArray& image);
    // A text of the image: the byte offset of its UTF-16LE units and their count.
    void AddStored(qsizetype offset, qsizetype units);
    // Copies a text into the table. Views returned by At may move when the table grows.
    void Append(QStringView text);
    void RemoveLast();
    void Clear();
    void Reserve(qsizetype count);

    qsizetype Size() const { return qsizetype(m_spans.size()); }
    bool IsEmpty() const { return m_spans.empty(); }
    QStringView At(qsizetype index) const {
        const TSpan& span = m_spans[size_t(index)];
        return {reinterpret_cast<const char16_t*>(m_store.constData()) + span.Offset, qsizetype(span.Units)};
    }
    QStringList ToList() const;

private:
    // Eight bytes: a table of a large tree has hundreds of thousands of them.
    struct TSpan {
        uint32_t Offset; // UTF-16 units into m_store
        uint32_t Units;
    };

    QByteArray m_store; // UTF-16 units in host order
    std::vector<TSpan> m_spans;
};

// A list of texts to write, whatever holds them.
struct TStringSequence {
    qsizetype Count = 0;
    std::function<QStringView(qsizetype)> At;
};
