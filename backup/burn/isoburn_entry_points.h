// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every entry point the burner binding looks up in the burning library (libisoburn, with the
// libburn and libisofs it brings along). A library that lacks any of them is not used.
//
// HALVEX_ISOBURN_CONNECT_ENTRY_POINTS are the ones Connect calls; the test stand-in library
// implements those and gives the rest empty bodies.

#define HALVEX_ISOBURN_CONNECT_ENTRY_POINTS(X) \
    X(isoburn_version)                         \
    X(isoburn_initialize)                      \
    X(isoburn_finish)                          \
    X(burn_msgs_set_severities)                \
    X(burn_msgs_obtain)                        \
    X(iso_set_msgs_severities)                 \
    X(iso_obtain_msgs)                         \
    X(burn_drive_scan)                         \
    X(burn_drive_get_adr)                      \
    X(burn_drive_info_forget)                  \
    X(burn_drive_info_free)

#define HALVEX_ISOBURN_OTHER_ENTRY_POINTS(X) \
    X(isoburn_drive_aquire)                   \
    X(isoburn_drive_release)                  \
    X(isoburn_disc_get_status)                \
    X(isoburn_disc_get_msc1)                  \
    X(isoburn_read_iso_head)                  \
    X(isoburn_ropt_new)                       \
    X(isoburn_ropt_set_extensions)            \
    X(isoburn_ropt_destroy)                   \
    X(isoburn_read_image)                     \
    X(isoburn_get_attached_image)             \
    X(isoburn_igopt_new)                      \
    X(isoburn_igopt_set_level)                \
    X(isoburn_igopt_set_extensions)           \
    X(isoburn_igopt_set_over_mode)            \
    X(isoburn_igopt_set_over_ugid)            \
    X(iso_node_get_permissions)               \
    X(iso_node_set_permissions)               \
    X(isoburn_igopt_destroy)                  \
    X(isoburn_prepare_disc)                   \
    X(isoburn_cancel_prepared_write)          \
    X(isoburn_disc_write)                     \
    X(isoburn_drive_wrote_well)               \
    X(isoburn_activate_session)               \
    X(isoburn_sync_after_write)               \
    X(burn_drive_get_status)                  \
    X(burn_write_opts_new)                    \
    X(burn_write_opts_free)                   \
    X(burn_write_opts_set_multi)              \
    X(burn_write_opts_set_perform_opc)        \
    X(burn_disc_free)                         \
    X(iso_image_unref)                        \
    X(iso_image_get_root)                     \
    X(iso_image_set_volume_id)                \
    X(iso_tree_set_follow_symlinks)           \
    X(iso_tree_add_new_node)                  \
    X(iso_tree_add_new_dir)                   \
    X(iso_dir_get_node)                       \
    X(iso_node_remove)                        \
    X(iso_error_to_msg)                       \
    X(iso_dir_get_children)                   \
    X(iso_dir_iter_next)                      \
    X(iso_dir_iter_free)                      \
    X(iso_node_get_type)                      \
    X(iso_node_get_name)                      \
    X(iso_node_get_mtime)                     \
    X(iso_file_get_size)                      \
    X(iso_file_get_stream)                    \
    X(iso_stream_open)                        \
    X(iso_stream_read)                        \
    X(iso_stream_close)

#define HALVEX_ISOBURN_ENTRY_POINTS(X)  \
    HALVEX_ISOBURN_CONNECT_ENTRY_POINTS(X) \
    HALVEX_ISOBURN_OTHER_ENTRY_POINTS(X)
