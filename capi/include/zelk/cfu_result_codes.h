/*
 * ZelkUpdateTool update library: every result code a call returns, by name.
 * docs/library-interface.md tells which call returns which code and why.
 */
#ifndef ZELK_CFU_RESULT_CODES_H
#define ZELK_CFU_RESULT_CODES_H

#define CFU_RESULT_SUCCESS 0u
/* Path list does not fit; open, close or callback registration refused;
 * standard policy: offer rejected or device stayed busy. */
#define CFU_RESULT_REFUSED 1u
/* Description could not be read; single-bank bud policy: no offer answered. */
#define CFU_RESULT_NOT_ANSWERED 2u
/* Single-bank bud policy ended after a pass with an accepted offer (whole
 * image sent) without ForceIgnoreVersion, or with it not every image handled. */
#define CFU_RESULT_SINGLE_BANK_UNFINISHED 3u
#define CFU_RESULT_LAST_IMAGE_REJECTED 4u
#define CFU_RESULT_VERSION_QUERY_FAILED 5u
#define CFU_RESULT_UNKNOWN_COMPONENT 6u
#define CFU_RESULT_FAMILY_NOT_LISTED 7u
#define CFU_RESULT_IMAGE_LIST_OPEN 8u
#define CFU_RESULT_IMAGE_LIST_NOT_OPEN 9u
#define CFU_RESULT_IMAGE_FILE_UNUSABLE 10u
#define CFU_RESULT_IMAGE_LIST_FULL 11u
#define CFU_RESULT_REPORT_TOO_SHORT 12u
#define CFU_RESULT_NO_IMAGE_FOR_BANK 13u
/* A call made from inside the status callback that would end or change the
 * running update (close its endpoint, change the image list, update again). */
#define CFU_RESULT_UPDATE_RUNNING 14u
#define CFU_RESULT_WRONG_IMAGE_COUNT 15u
#define CFU_RESULT_OFFER_SEND_FAILED 16u
#define CFU_RESULT_OFFER_NO_RESPONSE 17u
#define CFU_RESULT_OFFER_UNEXPECTED 18u
#define CFU_RESULT_REPETITION_LIMIT 19u
#define CFU_RESULT_CONTENT_FAILED 20u
#define CFU_RESULT_CONTENT_SEQUENCE_MISMATCH 21u
#define CFU_RESULT_CONTENT_WRITE_ERROR 22u
#define CFU_RESULT_CONTENT_NO_RESPONSE 23u
#define CFU_RESULT_CONTENT_FAILED_IGNORING_VERSION 24u
/* The library failed inside (out of memory, an exception); any transfer in
 * progress was switched off. */
#define CFU_RESULT_INTERNAL_ERROR 25u
/* CFUUpdate: another update (another process, or another endpoint on the same
 * device) holds this device's update lock; nothing was sent. */
#define CFU_RESULT_DEVICE_BUSY_ELSEWHERE 26u

#endif /* ZELK_CFU_RESULT_CODES_H */
