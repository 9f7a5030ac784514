#include "app/cli/Commands.h"
#include "app/cli/TCliContext.h"

#include "core/model/JobTexts.h"
#include "core/settings/TAppGlobals.h"

#include <QJsonDocument>

int CommandList(TCliContext& context) {
    if (!context.Args.isEmpty())
        return context.Usage(QStringLiteral("list takes no arguments"));
    TJobList& jobs = context.Jobs();
    for (int i = 0; i < jobs.Count(); ++i) {
        const TJob* job = jobs.At(i);
        context.Out << job->stJobName << '\t' << KindText(job->Kind()) << '\t' << DestinationText(*job, App().Options)
                    << '\t' << StatusText(job->JobStatus) << '\t' << LastResultText(*job) << '\n';
    }
    context.Out.flush();
    return ceOk;
}

int CommandShow(TCliContext& context) {
    const bool json = context.TakeSwitch(QStringLiteral("--json"));
    if (context.Args.size() != 1)
        return context.Usage(QStringLiteral("usage: show NAME [--json]"));
    const TJob* job = context.RequireJob(context.Args.first());
    if (!job)
        return ceUsage;
    if (json) {
        context.Out << QString::fromUtf8(QJsonDocument(job->ToJson()).toJson(QJsonDocument::Indented));
    } else {
        context.Out << "Name:        " << job->stJobName << '\n'
                    << "Kind:        " << KindText(job->Kind()) << '\n'
                    << "Destination: " << DestinationText(*job, App().Options) << '\n'
                    << "Status:      " << StatusText(job->JobStatus) << '\n'
                    << "Last result: " << LastResultText(*job) << '\n';
    }
    context.Out.flush();
    return ceOk;
}
