#include "core/model/JobNameCheck.h"

#include "core/base/TextFormat.h"
#include "core/model/TJobList.h"
#include "core/settings/TAppGlobals.h"

QString ForbiddenJobNameCharacters() {
    return QStringLiteral("<>:\"/\\|?*");
}

TJobNameCheck CheckJobName(const QString& typed, const TJobList& jobs, const TJob* renamed) {
    TJobNameCheck check;
    check.Name = typed.trimmed();
    const QString& name = check.Name;
    if (renamed && name == renamed->stJobName) {
        check.Verdict = TJobNameVerdict::Unchanged;
        return check;
    }
    const QString forbidden = ForbiddenJobNameCharacters();
    for (const QChar c : name) {
        if (forbidden.contains(c)) {
            check.Verdict = TJobNameVerdict::ForbiddenCharacters;
            check.Message = TranslateText(QStringLiteral("The following symbols are not allowed in the title:")) +
                            QStringLiteral("\n\n") + forbidden;
            return check;
        }
    }
    // An empty name would make the job's folder the destination folder itself, and a line break
    // would split the jobs list file; "." and ".." are not names of folders of their own.
    bool usable = !name.isEmpty() && name != u'.' && name != QStringLiteral("..");
    for (const QChar c : name)
        usable = usable && c.category() != QChar::Other_Control;
    if (!usable) {
        check.Verdict = TJobNameVerdict::NotUsable;
        check.Message = TranslateText(QStringLiteral("This name cannot be used as a job name."));
        return check;
    }
    if (jobs.FindIgnoringCase(name)) {
        check.Verdict = TJobNameVerdict::AlreadyExists;
        check.Message = FormatText(
            TranslateText(QStringLiteral("Job \"%s\" already exists. Please specify another name.")), {name});
    }
    return check;
}
