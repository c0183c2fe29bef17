#pragma once

// The counts the file list shows for an image.
struct ImageState
{
    int confirmed = 0;
    int pending = 0;
    bool failed = false;      // the image's last model request failed
    bool known = false;       // the counts have been filled
    bool labelFile = false;   // it has a label file (saved, or marked as checked)

    // Checked and found empty: a label file without objects, what training takes as a negative.
    bool isBackground() const { return labelFile && confirmed == 0; }

    friend bool operator==(const ImageState &a, const ImageState &b)
    {
        return a.confirmed == b.confirmed && a.pending == b.pending && a.failed == b.failed && a.known == b.known
            && a.labelFile == b.labelFile;
    }
};
