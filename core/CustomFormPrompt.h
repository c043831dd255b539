#pragma once

struct AppState;

// The custom form information window: shows customFormNotice and userDefinedFields and sets
// useCustomFolder from the user's answer.
class CustomFormPrompt {
public:
    virtual ~CustomFormPrompt() = default;
    virtual void ask(AppState &state) = 0;
};
