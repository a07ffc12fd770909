#pragma once

namespace fc::download_messages {

// Status line while the download runs.
inline constexpr const char* kSettingDownloadMode =
    "Setting Computer in Download Mode, Please Wait...";
inline constexpr const char* kLoaderV1Found = "Loader v.1 Found. Sending Bytes...";
inline constexpr const char* kLoaderV2Found = "Loader v.2 Found. Sending Bytes...";
inline constexpr const char* kBeingReset = "Flow Computer is being reset, please wait...";
// While the unit leaves requests unanswered: the attempt now under way.
inline constexpr const char* kNoAnswerAttempt = "No answer, attempt %d of %d";

// The flash exchange's own boxes.
inline constexpr const char* kImageTooLarge =
    "The image file is too large for the unit's loader (more than 65535 sectors).";
inline constexpr const char* kUnableToPlaceInDownloadMode =
    "Unable to place the Ovra in download mode.";
inline constexpr const char* kUnableToOpenImage = "Unable to open the image file.";
inline constexpr const char* kNotTheRightSize = "The specified file is not the right size.";
inline constexpr const char* kImageEmpty = "The specified file is empty.";
inline constexpr const char* kFileReadError = "File read error";
inline constexpr const char* kErrorWritingSectorData = "Communications error writing sector data.";
inline constexpr const char* kErrorWritingSectorNumber =
    "Communications error writing sector number.";
inline constexpr const char* kErrorRequestingFlashWrite =
    "Communications error requesting the flash write.";
inline constexpr const char* kErrorWaitingForFlashWrite =
    "Communications error waiting for flash write.";
inline constexpr const char* kFlashWriteTimedOut = "Timed out waiting for the flash write.";
inline constexpr const char* kFlashWriteFailed = "Flash write failed.";
inline constexpr const char* kInvalidSector = "Invalid sector.";
inline constexpr const char* kUnexpectedFlashResponse = "Unexpected response after flash write.";
inline constexpr const char* kUnableToExitDownloadMode =
    "Communications error: unable to exit download mode.";
inline constexpr const char* kDownloadCompleted = "Download completed successfully.";
inline constexpr const char* kLoaderRestarted =
    "The unit restarted in its loader; sending the image again from the first sector...";
inline constexpr const char* kLoaderKeepsRestarting =
    "The unit keeps restarting in its loader; the download cannot go on.";

// The checks of an idempotent rollout; %d stand for the register, what it
// read and what it should read.
inline constexpr const char* kAlreadyAt = "already at %d";
inline constexpr const char* kCheckUnread = "Register %d could not be read; the unit is left as it is.";
inline constexpr const char* kExpectUnread = "After the download register %d could not be read.";
inline constexpr const char* kExpectDiffers =
    "After the download register %d reads %d, not the %d expected.";

// A unit left in its loader by an earlier run, found again.
inline constexpr const char* kLookingForLoader =
    "No answer at the configured settings; looking for the unit's loader...";
inline constexpr const char* kAlreadyInDownloadMode =
    "The unit is already in download mode; the download starts again from the first sector.";
// What the probe read, and what the loader's protocol makes of it: %d are the
// register's value and the loader version it stands for.
inline constexpr const char* kFoundInDownloadMode =
    "register 2649 reads %d: the unit answers as loader version %d, in download mode";

// What a run that ended early leaves the unit in.
inline constexpr const char* kLeftInDownloadMode =
    "The unit is in download mode and its application is incomplete. Run the same download "
    "again to recover it.";
inline constexpr const char* kMaybeLeftInDownloadMode =
    "The unit may be in download mode, with its application incomplete. Run the same download "
    "again to recover it.";
inline constexpr const char* kDownloadInterrupted = "Download interrupted.";
// A test or a read of a fleet's unit cut short by a stop.
inline constexpr const char* kStoppedBeforeAnswer = "Stopped before the unit answered.";
inline constexpr const char* kNotSwitched =
    "The unit was not switched to download mode; its application runs as before.";
inline constexpr const char* kStatusDownloadFailed = "Download failed.";
inline constexpr const char* kStatusFailedInDownloadMode =
    "Download failed: the unit is left in download mode.";
inline constexpr const char* kStatusFailedMaybeInDownloadMode =
    "Download failed: the unit may be left in download mode.";
inline constexpr const char* kStatusStoppedInDownloadMode =
    "Download stopped: the unit is left in download mode.";
inline constexpr const char* kStatusStoppedMaybeInDownloadMode =
    "Download stopped: the unit may be left in download mode.";
inline constexpr const char* kStatusStoppedNotSwitched =
    "Download stopped: the unit was not switched to download mode.";
inline constexpr const char* kStatusStoppedResetting =
    "Download stopped: the image is written and the unit is resetting.";
inline constexpr const char* kWrittenAndResetting =
    "The image is written and the unit has left download mode; it is resetting.";

// The File Downloader page.
inline constexpr const char* kNoFileNameSelected = "No file name selected";
inline constexpr const char* kUnableToOpenSelectedFile = "Unable to Open the selected file";
inline constexpr const char* kConfirmCaption = "Confirm";
inline constexpr const char* kConfirmDownload =
    "You are about to clear the unit and download a new image file.\nAll the archives and "
    "configuration will be lost!\nDo you want to proceed ?";
// Below the confirmation, so that the user can hold the image against the
// digest its maker published before the unit is cleared.
inline constexpr const char* kImageDigestLine = "Image sha256: ";
// An image whose bytes are not those the caller vouched for, by digest.
inline constexpr const char* kImageDigestDiffers =
    "The image's sha256 is not the one given: it is not the image meant, and nothing is flashed.";
inline constexpr const char* kImageDigestRead = "sha256 of the image read: ";
inline constexpr const char* kImageDigestGiven = "sha256 given: ";
inline constexpr const char* kUnableToCommunicate = "Unable to communicate.";
inline constexpr const char* kUnableToFinishDownload = "Unable to finish Download";
inline constexpr const char* kErrorCaption = "Error";
inline constexpr const char* kCloseRefusedDuringDownload =
    "A download is running.\nClosing now would leave the unit in download mode.\n"
    "Please wait until the download has finished.";

// The file dialog of Browse.
inline constexpr const char* kImageFilter = "IMG Files (*.img);;All Files (*)";
inline constexpr const char* kImageSuffix = "img";

}  // namespace fc::download_messages
