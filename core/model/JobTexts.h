#pragma once

#include "core/model/TJob.h"
#include "core/settings/TOptions.h"

#include <QString>

// The short texts that describe a job in lists (the table view, "vaultora-cli list"), translated.
QString KindText(TJobKind kind);
QString StorageText(TDestinationType type);
QString StatusText(TJobStatus status);
// "Never started", "Cancelled on %s", "Finished with errors on %s", ...; "-" while not idle.
QString LastResultText(const TJob& job);
// The same for a result alone, whatever the job's status.
QString ResultText(const TJobResult& result);
// "Backup to drive: ...", "Backup to network: ...", "Backup to FTP (%s): ...", "Backup to cloud (%s): ...".
QString DestinationText(const TJob& job, const TOptions& options);
