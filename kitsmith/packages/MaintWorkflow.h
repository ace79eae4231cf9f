// One object per package operation: new package, edit package, edit the default
// configuration. It runs the package scripts, lets the operator edit the configuration in the
// package dialog, saves and logs every step, and finally runs the operation's clean-up script.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "options/AuthCfg.h"

class MaintWorkflow_base;

// The package dialog as a workflow runs it (built on first use, run modally).
class PackageEditor {
 public:
  virtual ~PackageEditor() = default;
  virtual INT_PTR DoModal() = 0;
};
using PackageEditorFactory = std::unique_ptr<PackageEditor> (*)(HWND parent, MaintWorkflow_base& workflow,
                                                                CfgSet& working);

enum OperationType { kOperationNewPackage = 1, kOperationEditPackage = 2, kOperationEditDefaults = 3 };

// "new package", "edit package", "edit default configuration", else "<unknown operation>".
const char* OperationTypeName(int type);

// Revision (CR) and schema (CS) of a set as integers, 0 when missing; SetRevision writes CR
// with the source Editor.
int ReadRevision(const CfgSet& set);
int ReadSchema(const CfgSet& set);
void SetRevision(CfgSet& set, int revision);

// The configuration view: every option not at its default, except CS, values and
// descriptions escaped for HTML. False when the file cannot be written.
bool WriteCfgView(const CfgSet& set, const std::string& path);
// The view writer's self-test: the view of a fixed example set, written to
// "K:\Windows\Test\cfgview\Cfg-View.html". False when the file cannot be written.
bool CfgViewSelfTest();

class MaintWorkflow_base {
 public:
  MaintWorkflow_base(HWND parent, int type);
  virtual ~MaintWorkflow_base();
  MaintWorkflow_base(const MaintWorkflow_base&) = delete;
  MaintWorkflow_base& operator=(const MaintWorkflow_base&) = delete;

  // The whole operation: start line, Run, outcome line, clean-up.
  bool Execute();
  virtual bool Run() = 0;

  INT_PTR ShowEditor(CfgSet& working);
  bool SavePackage(int revision, bool saveDefaults);
  bool SaveDefaultConfig();
  bool LoadDefaultConfig(CfgSet& target);
  // "<Packages>\New Package N" for the lowest N that names no folder; empty when none is left.
  std::string NextNewPackagePath() const;
  void RunCleanupScript();
  void ReadErrorsFile();

  const std::string& OperationId() const { return operationId_; }
  int Type() const { return type_; }
  const std::string& SourceFolder() const { return sourceFolder_; }
  const std::string& PackagePath() const { return packagePath_; }
  void SetPackagePath(const std::string& path) { packagePath_ = path; }
  bool Cancelled() const { return cancelled_; }
  bool Saved() const { return saved_; }
  CfgSet& Baseline() { return baseline_; }
  CfgSet& Working() { return working_; }
  HWND Parent() const { return parent_; }

  // Who builds the package dialog (the package configuration dialog unless a test installs
  // another; null: none); returns the previous factory.
  static PackageEditorFactory InstallEditorFactory(PackageEditorFactory factory);

 protected:
  std::string TempPath(const std::string& name) const;
  std::string AssemblyFolder() const;
  std::string DefaultConfigPath() const;

  std::string operationId_;
  int type_;
  std::string sourceFolder_;
  bool cancelled_ = false;
  std::string packagePath_;
  CfgSet baseline_;
  CfgSet working_;
  HWND parent_;
  bool saved_ = false;
  std::unique_ptr<PackageEditor> editor_;
};

class NewPackageWorkflow : public MaintWorkflow_base {
 public:
  explicit NewPackageWorkflow(HWND parent) : MaintWorkflow_base(parent, kOperationNewPackage) {}
  bool Run() override;
};

class EditPackageWorkflow : public MaintWorkflow_base {
 public:
  explicit EditPackageWorkflow(HWND parent) : MaintWorkflow_base(parent, kOperationEditPackage) {}
  bool Run() override;
};

class EditDefaultConfigWorkflow : public MaintWorkflow_base {
 public:
  explicit EditDefaultConfigWorkflow(HWND parent) : MaintWorkflow_base(parent, kOperationEditDefaults) {}
  bool Run() override;
};
