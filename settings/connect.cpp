// Restoring the connection fields at start-up, and Connect.

#include "settings/connect.h"

#include "settings/destination.h"
#include "settings/odbc.h"
#include "settings/settings_store.h"

namespace kordb {

void Form_Load(Form& f) {
    try {
        f.ui.setFieldText(0, f.settings.get(kSettingsApp, kSettingsSection, "cserver"));
        f.ui.setFieldText(1, f.settings.get(kSettingsApp, kSettingsSection, "ConnTable"));
        f.ui.setFieldText(2, f.settings.get(kSettingsApp, kSettingsSection, "clogin"));
        f.ui.setFieldText(3, f.settings.get(kSettingsApp, kSettingsSection, "cpassword"));
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

void CCONNECT_Click(Form& f) {
    try {
        for (int i = 0; i <= 4; ++i) {
            if (f.ui.fieldText(i).empty()) {
                f.ui.messageBox("Empty Field !!!", "Message", Icon::Critical, Buttons::Ok);
                f.ui.setFocus(fieldControl(i));
                return;
            }
        }
        if (f.ui.comboText().empty()) {
            f.ui.messageBox("Empty Field !!!", "Message", Icon::Critical, Buttons::Ok);
            f.ui.setFocus(Control::Combo1);
            return;
        }
        OpenDestination(f);
        // Saved whether or not the open succeeded: the operator's typing is kept either way.
        f.settings.save(kSettingsApp, kSettingsSection, "cServer", f.ui.fieldText(0));
        f.settings.save(kSettingsApp, kSettingsSection, "ConnTable", f.ui.fieldText(1));
        f.settings.save(kSettingsApp, kSettingsSection, "cLogin", f.ui.fieldText(2));
        f.settings.save(kSettingsApp, kSettingsSection, "cPassword", f.ui.fieldText(3));
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

void OpenDestination(Form& f) {
    try {
        f.ui.setVerifyEnabled(false);
        f.st.DestConn.reset();
        f.st.DestConn = std::make_unique<odbc::Connection>();
        std::string s = assembleConnectionString(f.ui.fieldText(3), f.ui.fieldText(2),
                                                 f.ui.fieldText(1), f.ui.fieldText(0));
        f.st.DestConn->open(odbcConnectionString(parseConnectionString(s)), kLoginTimeoutSeconds);
        f.ui.showConnected();
        f.ui.setVerifyEnabled(true);
    } catch (const std::exception& e) {
        // The driver's own text is not shown: the operator checks the four fields. It is
        // kept for callers that report it elsewhere.
        recordError(f, e.what());
        f.ui.messageBox("Error connection !!!", "Message", Icon::Critical, Buttons::Ok);
        f.ui.setStartEnabled(false);
        f.ui.setVerifyEnabled(false);
    }
}

}  // namespace kordb
