#include "scan/ui/itemdetails.h"

#include "scan/ui/applicationsmodel.h"
#include "tools/utf8.h"

namespace varko {

namespace {

QString tr(const char* text) {
    return ApplicationsModel::tr(text);
}

QString fact(const QString& label, const QString& value) {
    return QStringLiteral("<tr><td style='padding-right:12px'><b>%1</b></td><td>%2</td></tr>")
        .arg(label.toHtmlEscaped(), value.isEmpty() ? tr("none") : value.toHtmlEscaped());
}

QString yes(bool mark) {
    return mark ? tr("yes") : QStringLiteral("—");
}

}  // namespace

QString itemDetailsHtml(const ApplicationsModel& model, int row) {
    const scan::ItemSummary& item = model.item(row);
    const auto text = [&](int column) { return model.text(row, column); };
    QString html =
        QStringLiteral("<p style='margin:0'><b style='font-size:large'>%1</b> &nbsp; %2</p>")
            .arg(text(ApplicationsModel::name).toHtmlEscaped(),
                 model.pathText(row).toHtmlEscaped());
    html += QStringLiteral("<table cellspacing=0 cellpadding=0><tr><td valign=top>");
    html += QStringLiteral("<table cellspacing=0 cellpadding=1>");
    if (item.unreadable) {
        html += fact(tr("Could not be read"), host::visibleControls(item.problem));
    } else {
        html += fact(tr("Identifier"), text(ApplicationsModel::identifier));
        html += fact(tr("Version"), text(ApplicationsModel::version));
        html += fact(tr("Signer"), text(ApplicationsModel::signer));
        html += fact(tr("Team ID"), text(ApplicationsModel::teamIdentifier));
        QString verdict = text(ApplicationsModel::verdict);
        if (!item.verdictReason.isEmpty())
            verdict += QStringLiteral(": ") + host::visibleControls(item.verdictReason);
        html += fact(tr("Verdict"), verdict);
        html += fact(tr("Hardened runtime"), host::visibleControls(item.hardenedRuntime));
    }
    html += QStringLiteral("</table></td><td width=32></td><td valign=top>");

    const auto& uses = model.uses(row);
    if (uses.empty() && item.services.empty()) {
        html += QStringLiteral("<p>%1</p>").arg(tr("Asks for no privacy service.").toHtmlEscaped());
    } else {
        html += QStringLiteral(
                    "<table cellspacing=0 cellpadding=2 border=1 "
                    "style='border-collapse:collapse'><tr><th align=left>%1</th>"
                    "<th>%2</th><th>%3</th><th>%4</th></tr>")
                    .arg(tr("Privacy service"), tr("Declared"), tr("Entitled"), tr("Allowed"));
        for (const auto& [service, marks] : uses)
            html += QStringLiteral(
                        "<tr><td>%1</td><td align=center>%2</td><td align=center>%3</td>"
                        "<td align=center>%4</td></tr>")
                        .arg(model.services()[std::size_t(service)].title.toHtmlEscaped(),
                             yes(marks.declared), yes(marks.entitled), yes(marks.allowed));
        html += QStringLiteral("</table>");
        // The services past the model's bound are only named in the row.
        const QStringList& unlisted = model.unlistedServices(row);
        if (!unlisted.isEmpty())
            html += QStringLiteral("<p>%1</p>")
                        .arg(unlisted.join(QStringLiteral(", ")).toHtmlEscaped());
        html += QStringLiteral("<p><small>%1</small></p>")
                    .arg(tr("Declared: a usage description in its Info.plist says why it asks. "
                            "Entitled: a public entitlement asks for it. Allowed: a private "
                            "entitlement lets it in without asking. By the item or any piece "
                            "of code inside it.")
                             .toHtmlEscaped());
    }
    return html + QStringLiteral("</td></tr></table>");
}

}  // namespace varko
