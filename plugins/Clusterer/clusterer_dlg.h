// The "Cluster analysis" window of one device: the settings as a list of keys and values, the filter
// chain applied to each frame, the class counts of the shown frame and the running totals, one spectrum
// plot, the shown frame rendered by class with one cluster highlighted and its properties, and the
// commands write spectra, write cluster list, clear and process a folder. Thin: everything it shows is a
// copy read from the device's ClustAnalData. GUI thread only.
#pragma once

#include <memory>
#include <vector>

#include "clust_anal_data.h"
#include "pluginfw/plugin_dlg.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class CComboBoxFilterChains;
class CPicture;
class ClustFolderJob;
class ClusterData;
class Plot2D;

class CClusterDlg : public CPluginDlg {
    Q_OBJECT
public:
    static constexpr const char* kToolName = "Cluster analysis";

    explicit CClusterDlg(int devId);
    ~CClusterDlg() override;

    bool Create() override;

    // Reads the shown finder, the totals and the chosen spectrum again.
    void refresh();

    // The commands behind the buttons, without their file pickers. 0, or -1 (the log and, for the list,
    // a message box say why).
    int writeSpectra(const QString& base);
    int writeClusterList(const QString& path);
    void clearAll();
    // Starts analysing the frame files of folder in a worker; false while one runs or when it cannot start.
    bool processFolder(const QString& folder);
    bool folderRunning() const;

    // Takes the values of the settings list; the refused ones are put back and listed in a message box.
    void applySettings();
    // The cluster whose properties are shown (and highlighted).
    void selectCluster(int index);

    // Spectra the plot can show, in the order of its chooser.
    enum SpectrumChoice { SizeAll, SizeValid, VolumeAll, VolumeValid };
    void showSpectrum(int choice);

private:
    ClusterData* data() const;
    void fillSettings(const ClustSettings& s);
    void refreshSpectrum();
    void refreshProperties();
    void renderFrame();
    void chooseSpectraFile();
    void chooseListFile();
    void chooseListBase();
    void chooseFolder();
    void folderProgress(int done, int total);
    void folderFinished();
    void OnClose() override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

    int devId_;
    CComboBoxFilterChains* chains_ = nullptr;
    QTableWidget* settings_ = nullptr;
    QPushButton* apply_ = nullptr;
    QLineEdit* listFile_ = nullptr;
    QPushButton* folderButton_ = nullptr;
    QLabel* folderState_ = nullptr;
    CPicture* picture_ = nullptr;
    QTableWidget* counts_ = nullptr;
    QComboBox* spectrumChoice_ = nullptr;
    QLabel* spectrumState_ = nullptr;
    Plot2D* plot_ = nullptr;
    QSpinBox* clusterIndex_ = nullptr;
    QLabel* properties_ = nullptr;
    std::unique_ptr<ClustFolderJob> folderJob_;
    ClustView view_;
    int spectrum_ = SizeAll;
};
