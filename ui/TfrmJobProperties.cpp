#include "ui/TfrmJobProperties.h"

#include "ui/UiTr.h"

#include "core/model/TJob.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

void AddValue(QTreeWidgetItem* parent, const QString& key, const QJsonValue& value);

void AddChildren(QTreeWidgetItem* item, const QJsonValue& value) {
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            AddValue(item, it.key(), it.value());
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i)
            AddValue(item, QString::number(i + 1), array.at(i));
    }
}

QString ValueText(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? Tr(u"Yes") : Tr(u"No");
    case QJsonValue::Double:
        return QString::number(value.toDouble(), 'g', 15);
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Array:
        return QStringLiteral("(%1)").arg(value.toArray().size());
    default:
        return {};
    }
}

void AddValue(QTreeWidgetItem* parent, const QString& key, const QJsonValue& value) {
    auto* item = new QTreeWidgetItem(parent, {key, ValueText(value)});
    AddChildren(item, value);
}

} // namespace

TfrmJobProperties::TfrmJobProperties(QWidget* parent)
    : QDialog(parent)
    , m_notice(new QLabel(this))
    , m_tree(new QTreeWidget(this)) {
    setObjectName(QStringLiteral("frmJobProperties"));
    m_notice->setWordWrap(true);
    m_tree->setColumnCount(2);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_close = buttons->button(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &TfrmJobProperties::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_notice);
    layout->addWidget(m_tree, 1);
    layout->addWidget(buttons);
    resize(640, 560);
}

void TfrmJobProperties::ShowJob(const TJob& job) {
    setWindowTitle(Tr(u"Properties") + QStringLiteral(" - ") + job.stJobName);
    m_notice->setText(Tr(u"The settings of a job are changed in the job wizard, which is not available in this "
                         u"version yet. Here they are shown as they are stored."));
    m_tree->setHeaderLabels({Tr(u"Setting"), Tr(u"Value")});
    m_close->setText(Tr(u"Close"));
    m_tree->clear();
    AddChildren(m_tree->invisibleRootItem(), job.ToJson());
    m_tree->expandToDepth(0);
}
