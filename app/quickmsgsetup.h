#pragma once

class TMainForm;

// Enables "&QuickMsg" and "Quick": each opens its quick-message window ("Quick Messages
// Definition", "Quick Message Selection"), made on first use on the desk's QuickMsgT. A message used
// there replaces the composed text, taking up to 200 characters past the typing limit.
void CreateQuickMsgForms(TMainForm& mainForm);
