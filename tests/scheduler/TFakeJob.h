#pragma once

#include "core/base/OleDate.h"
#include "core/base/TClock.h"
#include "core/model/TJob.h"

#include <QJsonObject>
#include <QStringList>

#include <system_error>

// A job whose run does nothing and lasts until the test ends it. Its start is stamped with the
// scheduler's fake clock, so the due decisions see the start as the real program would.
class TFakeJob : public TJob {
public:
    TFakeJob(const QString& name, TJobKind kind, const TClock& clock, QStringList* startOrder = nullptr)
        : TJob(name)
        , m_kind(kind)
        , m_clock(clock)
        , m_startOrder(startOrder) {}

    int Starts = 0;
    // The start fails as a thread that cannot be created does.
    bool StartThrows = false;

    TJobKind Kind() const override { return m_kind; }
    QString IconName() const override { return QString(); }

    void Backup() override {
        ++Starts;
        JobStatus = jsRunning;
        if (StartThrows)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        JobOperation = joBackup;
        LastJobResult.StartTime = OleDate::FromDateTime(m_clock.Now());
        LastJobResult.EndTime = 0;
        if (m_startOrder)
            m_startOrder->append(stJobName);
    }

    // The worker's last step.
    void Finish() {
        LastJobResult.EndTime = OleDate::FromDateTime(m_clock.Now());
        JobStatus = jsNone;
    }

protected:
    int32_t LocalFormatVersion() const override { return 4; }
    void ReadLocalBody(TPrimitiveReader&, int32_t) override {}
    void WriteLocalBody(TPrimitiveWriter&) const override {}
    QJsonObject SettingsToJson() const override { return {}; }

private:
    TJobKind m_kind;
    const TClock& m_clock;
    QStringList* m_startOrder;
};
