#pragma once

#include <QDialog>

#include "reservation/reservation.h"
#include "reservation/reservation_form.h"
#include "reservation/schedule_commands.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QTimeEdit;

namespace tavrel {

class CDTV_Base;
class UiServices;

// The reservation edit dialog's Qt half: draws the form of the work record and, on OK, reads
// the controls back into the form and takes the record the form describes; a refused form
// keeps the dialog open after the form's message.
class ReservationEditDialog final : public QDialog {
public:
    ReservationEditDialog(const Reservation& work, CDTV_Base* device, UiServices& ui,
                          QWidget* parent);

    // The record OK took; valid after exec() returned Accepted.
    const Reservation& Result() const { return result_; }
    const ReservationForm& Form() const { return form_; }

    void accept() override;

private:
    void Draw();
    void ReadControls();

    const Reservation& work_;
    CDTV_Base* device_;
    UiServices& ui_;
    ReservationForm form_;
    Reservation result_;

    QComboBox* kind_ = nullptr;
    QDateEdit* date_ = nullptr;
    QTimeEdit* time_ = nullptr;
    QTimeEdit* length_ = nullptr;
    QComboBox* channel_ = nullptr;
    QLineEdit* channel_text_ = nullptr;
    QCheckBox* service_limit_ = nullptr;
    QLineEdit* service_id_ = nullptr;
    QComboBox* after_end_ = nullptr;
    QLineEdit* ids_ = nullptr;
    QLineEdit* event_id_ = nullptr;
    QLineEdit* offset_start_ = nullptr;
    QLineEdit* offset_end_ = nullptr;
    QPushButton* convert_ = nullptr;
    QLineEdit* dir_ = nullptr;
    QCheckBox* file_given_ = nullptr;
    QLineEdit* file_ = nullptr;
    QLineEdit* ext_ = nullptr;
};

// The schedule's editor: runs the dialog on the work record, owned by a window.
class QtReservationEditor final : public ReservationEditor {
public:
    QtReservationEditor(CDTV_Base* device, UiServices& ui, QWidget* owner)
        : device_(device), ui_(ui), owner_(owner) {}
    bool Run(Reservation& work) override;

private:
    CDTV_Base* device_;
    UiServices& ui_;
    QWidget* owner_;
};

}  // namespace tavrel
