// Restoring the connection fields at start-up, and Connect.

#include "form/connect.h"

#include "core/product.h"
#include "settings/destination.h"
#include "settings/odbc.h"
#include "settings/settings_store.h"

namespace kordb {

namespace {

// The settings key of each connection field; the store compares keys without regard to case.
struct StoredField {
    Field field;
    const char* key;
};
constexpr StoredField kStoredFields[] = {
    {kServer, "cServer"}, {kDatabase, "ConnTable"}, {kUser, "cLogin"}, {kPassword, "cPassword"}};

}  // namespace

void Form_Load(Form& f) {
    try {
        for (const StoredField& s : kStoredFields)
            f.ui.setFieldText(s.field, f.settings.get(kSettingsApp, kSettingsSection, s.key));
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

void CCONNECT_Click(Form& f) {
    try {
        for (int i = kServer; i <= kPath; ++i) {
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
        for (const StoredField& s : kStoredFields)
            f.settings.save(kSettingsApp, kSettingsSection, s.key, f.ui.fieldText(s.field));
    } catch (const std::exception& e) {
        showError(f, e);
    }
}

void OpenDestination(Form& f) {
    try {
        f.ui.setVerifyEnabled(false);
        f.st.DestConn.reset();
        f.st.DestConn = std::make_unique<odbc::Connection>();
        f.keysIgnoreTrailingBlanks = false;
        openDestination(*f.st.DestConn, f.ui.fieldText(kPassword), f.ui.fieldText(kUser),
                        f.ui.fieldText(kDatabase), f.ui.fieldText(kServer));
        f.keysIgnoreTrailingBlanks = comparesKeysIgnoringTrailingBlanks(*f.st.DestConn);
        f.ui.showConnected();
        f.ui.setVerifyEnabled(true);
    } catch (const std::exception& e) {
        // The box says what it always said; the driver's reason waits behind its details for
        // whoever mends the connection, and is kept for callers that report it elsewhere.
        recordError(f, e.what());
        f.ui.detailedMessageBox("Error connection !!!", "Message", Icon::Critical, Buttons::Ok,
                                e.what());
        f.ui.setStartEnabled(false);
        f.ui.setVerifyEnabled(false);
    }
}

}  // namespace kordb
