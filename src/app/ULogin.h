#pragma once

#include <QDialog>

#include <memory>

class QLineEdit;
class QPushButton;
namespace Ui {
class TLogin;
}

// The login dialog: user ID, password and OK, nothing else. Created on the connect routine's
// stack for one login and freed right after it. UI thread only.
class TLogin : public QDialog
{
    Q_OBJECT

public:
    explicit TLogin(QWidget *parent = nullptr);
    ~TLogin() override;

    // The form's controls (owned by the dialog).
    QLineEdit *UName = nullptr;
    QLineEdit *UPass = nullptr;
    QPushButton *BitBtn1 = nullptr;

private:
    std::unique_ptr<Ui::TLogin> ui;
};

// The login dialog while one exists, otherwise null. Not owned.
extern TLogin *Login;

// The name of the user logged on to this machine (the account name), empty when unknown.
QString WindowsUserName();
