// The records exchanged with outside components have the sizes and offsets those components were
// built with; a change of a declaration that moves a member must not compile.
#pragma once

#include <cstddef>

#include "KyPltAlt.h"
#include "KyReportLog.h"
#include "KyUserManager.h"

static_assert(sizeof(void*) == 8, "the records are laid out for 64-bit processes");

static_assert(sizeof(tagKYLOG_INFO) == 48, "tagKYLOG_INFO size");
static_assert(offsetof(tagKYLOG_INFO, pwszLogCategoryID) == 0, "tagKYLOG_INFO::pwszLogCategoryID");
static_assert(offsetof(tagKYLOG_INFO, bViewByTARNAdminOnly) == 8, "tagKYLOG_INFO::bViewByTARNAdminOnly");
static_assert(offsetof(tagKYLOG_INFO, dwFieldCount) == 12, "tagKYLOG_INFO::dwFieldCount");
static_assert(offsetof(tagKYLOG_INFO, pFields) == 16, "tagKYLOG_INFO::pFields");
static_assert(offsetof(tagKYLOG_INFO, dwDetailsTemplateID) == 24, "tagKYLOG_INFO::dwDetailsTemplateID");
static_assert(offsetof(tagKYLOG_INFO, dwDetailsDataCount) == 28, "tagKYLOG_INFO::dwDetailsDataCount");
static_assert(offsetof(tagKYLOG_INFO, pDetailsData) == 32, "tagKYLOG_INFO::pDetailsData");
static_assert(offsetof(tagKYLOG_INFO, pAction) == 40, "tagKYLOG_INFO::pAction");

static_assert(sizeof(tagKYLOG_FIELD) == 16, "tagKYLOG_FIELD size");
static_assert(offsetof(tagKYLOG_FIELD, dwFieldID) == 0, "tagKYLOG_FIELD::dwFieldID");
static_assert(offsetof(tagKYLOG_FIELD, pwszData) == 8, "tagKYLOG_FIELD::pwszData");

static_assert(sizeof(tagKYLOG_DETAILS_DATA) == 16, "tagKYLOG_DETAILS_DATA size");
static_assert(offsetof(tagKYLOG_DETAILS_DATA, pwszToken) == 0, "tagKYLOG_DETAILS_DATA::pwszToken");
static_assert(offsetof(tagKYLOG_DETAILS_DATA, pwszValue) == 8, "tagKYLOG_DETAILS_DATA::pwszValue");

static_assert(sizeof(tagKYLOG_ACTION) == 40, "tagKYLOG_ACTION size");
static_assert(offsetof(tagKYLOG_ACTION, dwActionCount) == 0, "tagKYLOG_ACTION::dwActionCount");
static_assert(offsetof(tagKYLOG_ACTION, pdwActionID) == 8, "tagKYLOG_ACTION::pdwActionID");
static_assert(offsetof(tagKYLOG_ACTION, bAdminRequired) == 16, "tagKYLOG_ACTION::bAdminRequired");
static_assert(offsetof(tagKYLOG_ACTION, pwszUserName) == 24, "tagKYLOG_ACTION::pwszUserName");
static_assert(offsetof(tagKYLOG_ACTION, pclsidAction) == 32, "tagKYLOG_ACTION::pclsidAction");

static_assert(sizeof(tagKYUSER_ACCOUNT_INFO) == 16, "tagKYUSER_ACCOUNT_INFO size");

static_assert(sizeof(AlertShowRecord) == 136, "AlertShowRecord size");
static_assert(offsetof(AlertShowRecord, typeId) == 0, "AlertShowRecord::typeId");
static_assert(offsetof(AlertShowRecord, language) == 16, "AlertShowRecord::language");
static_assert(offsetof(AlertShowRecord, priority) == 24, "AlertShowRecord::priority");
static_assert(offsetof(AlertShowRecord, status) == 28, "AlertShowRecord::status");
static_assert(offsetof(AlertShowRecord, marker) == 32, "AlertShowRecord::marker");
static_assert(offsetof(AlertShowRecord, title) == 40, "AlertShowRecord::title");
static_assert(offsetof(AlertShowRecord, appId) == 48, "AlertShowRecord::appId");
static_assert(offsetof(AlertShowRecord, detailsContent) == 56, "AlertShowRecord::detailsContent");
static_assert(offsetof(AlertShowRecord, defaultContent) == 64, "AlertShowRecord::defaultContent");
static_assert(offsetof(AlertShowRecord, buttonCount) == 80, "AlertShowRecord::buttonCount");
static_assert(offsetof(AlertShowRecord, hasButtons) == 84, "AlertShowRecord::hasButtons");
static_assert(offsetof(AlertShowRecord, buttons) == 88, "AlertShowRecord::buttons");
static_assert(offsetof(AlertShowRecord, hasOption) == 96, "AlertShowRecord::hasOption");
static_assert(offsetof(AlertShowRecord, option) == 104, "AlertShowRecord::option");
static_assert(sizeof(AlertButton) == 16 && offsetof(AlertButton, label) == 8, "AlertButton");
static_assert(sizeof(AlertOption) == 24 && offsetof(AlertOption, text) == 8 && offsetof(AlertOption, checked) == 16,
              "AlertOption");
static_assert(sizeof(AlertResult) == 24 && offsetof(AlertResult, chosenButton) == 4 &&
                  offsetof(AlertResult, optionCount) == 8 && offsetof(AlertResult, options) == 16,
              "AlertResult");
