#pragma once

struct AppState;

// Makes several store operations one change: commit() keeps them all; leaving the scope
// without commit() takes them all back, and the store's open record sets are brought back in
// line with the file.
class StoreTransaction {
public:
    explicit StoreTransaction(AppState &state);
    ~StoreTransaction();
    StoreTransaction(const StoreTransaction &) = delete;
    StoreTransaction &operator=(const StoreTransaction &) = delete;

    void commit();
    void rollback();

private:
    AppState &m_state;
    bool m_open = false;
};
