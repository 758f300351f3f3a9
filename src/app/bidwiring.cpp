#include "app/bidwiring.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <memory>

#include "app/importmessage.h"
#include "app/lookups.h"
#include "app/tmainform.h"
#include "pages/mainpage.h"
#include "pages/shipmentpage.h"
#include "pages/shipperprofilepage.h"
#include "store/bidtables.h"
#include "store/fieldlimits.h"
#include "store/lifecycle.h"
#include "store/recovery.h"
#include "store/storebid.h"
#include "submit/printstatus.h"
#include "submit/submission.h"

namespace tarvik {

void wireBidStore(TMainForm& form) {
    const QPointer<TMainForm> window(&form);

    // Storing and loading show the progress window over the main window.
    setProgressWindowFactory([window](QWidget* owner, const QString& caption, const QString& text) {
        std::unique_ptr<QObject> none;
        if (!window) return none;
        auto message = std::make_unique<TImportMessage>(window->state(), owner ? owner : window.data());
        message->setWindowTitle(caption);
        message->Label1->setText(text);
        message->showNow();
        return std::unique_ptr<QObject>(std::move(message));
    });
    // A new bid runs the account executive change, which asks nothing while the new bid is started.
    LifecycleHooks hooks;
    hooks.accountNameChange = [window] {
        if (window) cbxAccountNameChange(window, window->state(), {});
    };
    setLifecycleHooks(hooks);
    // What the user types stops at the width of the field that stores it.
    ApplyFieldLimits(&form, form.state());

    // The account executive chosen by the user fills the sales team and, with no bid open, offers a new bid.
    QObject::connect(form.tbsMain->cbxAccountName, &QComboBox::activated, &form, [window] {
        if (window) cbxAccountNameChange(window, window->state(), [window] {
            if (window && window->newBid) window->newBid();
        });
    });
    form.storeBid = [window] { return window && StoreBid(window, window->state()); };
    form.newBid = [window] {
        if (window) NewBid(window, window->state());
    };
    QObject::connect(form.mnuSelect, &QAction::triggered, &form, [window] {
        if (window) SelectBid(window, window->state());
    });
    QObject::connect(form.tbsMain->btnSelectBid, &QPushButton::clicked, &form, [window] {
        if (window) SelectBid(window, window->state());
    });
    QObject::connect(form.mnuDeleteBid, &QAction::triggered, &form, [window] {
        if (window) DeleteBid(window, window->state());
    });

    // The MOB switch shows or hides the shipment grid's From Post. column.
    QObject::connect(form.tbsShipperProfile, &ShipperProfilePage::fromPostColumnWidthChanged, form.tbsShipmentData,
                     [window](int width) {
                         if (window) window->tbsShipmentData->showFromPostColumn(width > 0);
                     });

    // Submission stores the bid and clears the window through the store's operations.
    auto submission = std::make_shared<Submission>(form.state(), &form);
    SubmitHooks submitHooks;
    submitHooks.StoreBid = [window] { return window && StoreBid(window, window->state()); };
    submitHooks.ClearBidWindow = [window] {
        if (window) ClearBidWindow(window, window->state());
    };
    submission->setHooks(std::move(submitHooks));
    auto submit = [submission] { submission->SubmitBid(); };
    QObject::connect(form.mnuSubmit, &QAction::triggered, &form, submit);
    if (auto* button = form.findChild<QPushButton*>(QStringLiteral("btnSubmitBid")))
        QObject::connect(button, &QPushButton::clicked, &form, submit);
    QObject::connect(form.mnuViewStatus, &QAction::triggered, &form, [submission] { submission->mnuViewStatusClick(); });
    QObject::connect(form.mnuFTPSetup, &QAction::triggered, &form, [submission] { submission->mnuFTPSetupClick(); });
    QObject::connect(form.mnuUpdateStatus, &QAction::triggered, &form,
                     [submission] { submission->mnuUpdateStatusClick(); });

    // The recovery copy of the bid on screen follows its changes and what happens to the bid.
    form.recovery = new BidRecovery(form.state(), &form, &form);
    const QPointer<BidRecovery> recovery(form.recovery);
    BidStoreEvents events;
    events.beforeStore = [recovery](QWidget* w, const QString& id) {
        if (recovery && w == recovery->parent()) recovery->beforeStore(id);
    };
    events.afterStore = [recovery](QWidget* w, const QString& id, bool stored) {
        if (recovery && w == recovery->parent()) recovery->afterStore(id, stored);
    };
    events.deleted = [recovery](const QString& id) {
        if (recovery) recovery->bidDeleted(id);
    };
    events.cleared = [recovery](QWidget* w, const QString& id) {
        if (recovery && w == recovery->parent()) recovery->bidCleared(id);
    };
    setBidStoreEvents(std::move(events));
    form.closed = [recovery] {
        if (recovery) recovery->windowClosed();
    };

    // The summary of the bid on screen, printed or saved as PDF.
    QObject::connect(form.mnuPrintStatus, &QAction::triggered, &form, [window] {
        if (window) mnuPrintStatusClick(window->state(), window);
    });
}

}  // namespace tarvik
